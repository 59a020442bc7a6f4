#include "common/temporary_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string temporaryFolderFor(const std::string& outputPath) {
    struct stat status {};
    if (stat(outputPath.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) return "/tmp";
    return folderOf(outputPath);
}

std::string temporaryFolderOrTmpdir(const std::string& outputPath) {
    const char* tmpdir = std::getenv("TMPDIR");
    return tmpdir != nullptr && *tmpdir != '\0' ? std::string(tmpdir) : temporaryFolderFor(outputPath);
}

int openUnnamed(const std::string& folder, int flags, mode_t mode) {
    return ::open(folder.c_str(), O_TMPFILE | flags | O_CLOEXEC, mode);
}

bool unnamedUnsupported(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

namespace {

std::uint64_t randomBits() {
    std::uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
    // Without the kernel's source the names are guessable, but a taken one
    // only costs another try.
    // Threads spilling runs at once come here together.
    static std::atomic<std::uint64_t> calls{0};
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (now ^ (static_cast<std::uint64_t>(getpid()) << 40) ^
            (calls.fetch_add(1, std::memory_order_relaxed) + 1)) *
           0x9E3779B97F4A7C15u;
}

}  // namespace

// The same short length whatever the target's, so any name the target may
// have leaves room for it, and a name nobody can foresee, so files made in
// the folder beforehand cannot block the run. The dot keeps it out of
// ordinary listings.
std::string freshNameIn(const std::string& folder) {
    constexpr char Alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uint64_t bits = randomBits();
    std::string name = folder + "/.ngram-";
    for (int letter = 0; letter < 10; ++letter, bits /= 36) name += Alphabet[bits % 36];
    return name;
}

int TemporaryFile::create(const std::string& folder) {
    int fd = openUnnamed(folder, O_RDWR, 0600);
    if (fd < 0 && unnamedUnsupported(errno)) {
        // A named file, unlinked at once.
        int slot = -1;
        std::string name = createUnderFreshName(folder, slot, [&](const std::string& fresh) {
            fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            return fd >= 0;
        });
        if (!name.empty()) unlink(name.c_str());
        forgetTemporaryFile(slot);
    }
    if (fd < 0) throw IoError(folder, "cannot create a temporary file: " + systemReason());
    return fd;
}

TemporaryFile::TemporaryFile(const std::string& folder)
    : folder_(folder), fd_(create(folder)), out_(fd_, folder, "cannot write a temporary file: ") {}

TemporaryFile::~TemporaryFile() { ::close(fd_); }

std::size_t TemporaryFile::readAt(std::int64_t offset, char* destination, std::size_t length) const {
    for (;;) {
        ssize_t got = pread(fd_, destination, length, offset);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) throw IoError(folder_, "cannot read a temporary file: " + systemReason());
    }
}
