#include "tallomer-part/input_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/io_error.h"

namespace {

// Every byte of the list: a file, or standard input for "-".
std::string listBytes(const std::string& list) {
    const std::string name = list == "-" ? "standard input" : list;
    int descriptor = list == "-" ? 0 : ::open(list.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) throw IoError(name, systemReason());
    struct stat status {};
    if (::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(descriptor);
        throw IoError(name, "is a directory");
    }
    std::string bytes;
    char buffer[1 << 16];
    for (;;) {
        ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            std::string reason = systemReason();
            if (descriptor != 0) ::close(descriptor);
            throw IoError(name, reason);
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    if (descriptor != 0) ::close(descriptor);
    return bytes;
}

std::string identityText(const struct stat& status) {
    return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

}  // namespace

std::vector<ListLine> readListLines(const std::string& list) {
    const std::string bytes = listBytes(list);
    std::vector<ListLine> lines;
    std::int64_t number = 0;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = std::min(bytes.find('\n', start), bytes.size());
        ++number;
        std::size_t length = end - start;
        if (length > 0 && bytes[end - 1] == '\r') --length;
        if (length > 0) lines.push_back({number, bytes.substr(start, length)});
        start = end + 1;
    }
    return lines;
}

std::string modificationTimeText(const struct timespec& time) {
    // A time before 1970 with a fraction: -2 s + 0.75 s is -1.25 s.
    bool negative = time.tv_sec < 0 && time.tv_nsec > 0;
    long long seconds = negative ? -(static_cast<long long>(time.tv_sec) + 1) : time.tv_sec;
    long nanoseconds = negative ? 1'000'000'000 - time.tv_nsec : time.tv_nsec;
    char text[48];
    std::snprintf(text, sizeof text, "%s%lld.%09ld", negative ? "-" : "", seconds, nanoseconds);
    return text;
}

std::string describeListedInput(const std::string& listed, Mode mode) {
    if (listed.find('\0') != std::string::npos) throw IoError(listed, "the path holds a NUL byte");
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(listed.c_str(), nullptr), &std::free);
    if (!resolved) throw IoError(listed, systemReason());
    const std::string path = resolved.get();
    if (path.find('\n') != std::string::npos)
        throw IoError(listed, "the path it resolves to holds a line end: " + path);
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) throw IoError(path, systemReason());
    // A stream has no size or identity to plan by, and is read only once.
    if (S_ISDIR(status.st_mode)) throw IoError(path, "is a directory");
    if (!S_ISREG(status.st_mode)) throw IoError(path, "not a regular file: a list names files");
    std::optional<std::int64_t> multiple = rangeMultipleOf(path, mode);
    return (multiple ? std::to_string(*multiple) : std::string("whole")) + " " +
           std::to_string(status.st_size) + " " + modificationTimeText(status.st_mtim) + " " +
           identityText(status) + " " + path;
}

std::vector<ListedPart> parseListedParts(const std::string& list, const std::string& folder,
                                         const std::vector<ListLine>& lines) {
    std::vector<ListedPart> parts;
    for (const ListLine& line : lines) {
        auto refuse = [&](const std::string& reason) {
            throw IoError(list, "line " + std::to_string(line.number) + ": " + reason);
        };
        std::size_t first = line.text.find(' ');
        std::size_t second = first == std::string::npos ? first : line.text.find(' ', first + 1);
        std::size_t third = second == std::string::npos ? second : line.text.find(' ', second + 1);
        if (third == std::string::npos || third + 1 == line.text.size()) refuse("not PART FROM TO INPUT");
        std::string name = line.text.substr(0, first);
        if (name.empty() || name == "." || name == ".." || name.find_first_of("/\t") != std::string::npos)
            refuse("the part \"" + name + "\" must be a file name in " + folder + " (no slash, no blank)");
        std::string from = line.text.substr(first + 1, second - first - 1),
                    to = line.text.substr(second + 1, third - second - 1);
        std::optional<PartRange> range = parsePartRange(from, to);
        if (!range)
            refuse("the range \"" + from + "\" \"" + to +
                   "\" must be two byte offsets (decimal), or an offset and end");
        parts.push_back({folder + "/" + name, *range, line.text.substr(third + 1)});
    }
    return parts;
}
