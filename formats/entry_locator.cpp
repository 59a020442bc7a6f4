#include "formats/entry_locator.h"

#include <algorithm>
#include <cstring>

#include "formats/count_file.h"

namespace {

// The longest step a search for a line's end or its last ';' reads at once.
constexpr std::int64_t LongestStep = 1 << 20;

}  // namespace

void failCountTooLargeAt(const std::string& path, std::int64_t offset) {
    throw IoError(path, "the line at byte " + std::to_string(offset) + ": the count does not fit in 64 bits");
}

EntryLocator::EntryLocator(const std::string& path, std::int64_t windowBytes)
    : path_(path), file_(path), windowBytes_(std::max<std::int64_t>(windowBytes, 1)) {}

std::string_view EntryLocator::bytes(std::int64_t from, std::int64_t to) {
    if (from == to) return {};
    if (from < windowStart_ || to > windowEnd_) {
        // A little before `from` comes along: the search for a line's last
        // ';' looks back from where the search for its LF looked.
        std::int64_t start = std::max<std::int64_t>(0, from - windowBytes_ / 16);
        std::int64_t end = std::min(size(), std::max(to, start + windowBytes_));
        if (window_.size < end - start) window_ = allocateBytes(std::max(end - start, windowBytes_));
        windowStart_ = windowEnd_ = 0;
        file_.readAt(start, window_.data(), end - start);
        windowStart_ = start;
        windowEnd_ = end;
    }
    return {window_.data() + (from - windowStart_), static_cast<std::size_t>(to - from)};
}

std::int64_t EntryLocator::nextLineFeed(std::int64_t from) {
    for (std::int64_t step = 256; from < size(); step = std::min(2 * step, LongestStep)) {
        std::int64_t to = std::min(size(), from + step);
        std::string_view piece = bytes(from, to);
        if (const void* lineFeed = std::memchr(piece.data(), '\n', piece.size()))
            return from + (static_cast<const char*>(lineFeed) - piece.data());
        from = to;
    }
    return size();
}

bool EntryLocator::endsEntry(std::int64_t lineFeed) {
    for (std::int64_t end = lineFeed, step = 64; end > 0; step = std::min(2 * step, LongestStep)) {
        std::int64_t from = std::max<std::int64_t>(0, end - step);
        std::string_view piece = bytes(from, end);
        std::size_t mark = piece.find_last_of(";\n");
        if (mark != std::string_view::npos) {
            if (piece[mark] == '\n') return false;
            // The line's bytes from its last ';' on tell what the whole
            // line would.
            std::int64_t count;
            std::int64_t separator = from + static_cast<std::int64_t>(mark);
            return classifyCountLine(bytes(separator, lineFeed), count) != LineKind::NotAnEntry;
        }
        end = from;
    }
    return false;
}

void EntryLocator::checkEnd() {
    if (size() == 0) return;
    if (bytes(size() - 1, size())[0] != '\n')
        throw IoError(path_, "does not end with a line end: cut short, or not a count file");
    if (!endsEntry(size() - 1))
        throw IoError(path_, "its last line holds no count: cut short, or not a count file");
}

std::optional<std::int64_t> EntryLocator::entryStartIn(std::int64_t from, std::int64_t to) {
    if (from >= to) return std::nullopt;
    if (from == 0) return 0;
    for (std::int64_t at = from - 1;;) {
        std::int64_t lineFeed = nextLineFeed(at);
        if (lineFeed + 1 >= to) return std::nullopt;
        if (endsEntry(lineFeed)) return lineFeed + 1;
        at = lineFeed + 1;
    }
}

LocatedEntry EntryLocator::entryAt(std::int64_t start) {
    for (std::int64_t line = start; line < size();) {
        std::int64_t lineFeed = nextLineFeed(line);
        std::int64_t count;
        switch (classifyCountLine(bytes(line, lineFeed), count)) {
            case LineKind::Entry: {
                std::int64_t end = std::min(lineFeed + 1, size());
                return {start, end, entryText(bytes(start, end), scratch_), count};
            }
            case LineKind::CountTooLarge:
                failCountTooLargeAt(path_, line);
            case LineKind::NotAnEntry:
                break;
        }
        line = lineFeed + 1;
    }
    throw IoError(path_,
                  "ends inside an entry: the lines from byte " + std::to_string(start) + " on hold no count");
}
