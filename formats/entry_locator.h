// The entries of a count file found from any offset, for a reader that does
// not start at the file's first byte: a thread of a parallel reading, a
// binary search.
//
// An entry starts at 0 and right after the LF of every entry line (a line
// that the rule of formats/count_file.h takes for an entry), and the file
// ends where its last entry ends. Whether a line is an entry line depends on
// its own bytes alone, so the place where entries start next is found from
// any offset: the line that the offset falls in is looked at from its LF
// back to its last ';', and so on forward.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/file_io.h"

struct LocatedEntry {
    std::int64_t start = 0, end = 0;  // its lines' bytes, the LF after them included
    std::string_view text;            // valid until the locator is used again
    std::int64_t count = 0;
};

class EntryLocator {
public:
    // Reads the file through a window of `windowBytes` at least.
    explicit EntryLocator(const std::string& path, std::int64_t windowBytes = DefaultWindowBytes);

    const std::string& path() const { return path_; }
    std::int64_t size() const { return file_.size(); }

    // Refuses a file that a count file cannot be: one that does not end
    // with an entry line and its LF (cut short, or not a count file). An
    // empty file is a count file without entries.
    void checkEnd();

    // The first place in [from, to) where an entry starts; nothing when no
    // entry starts there.
    std::optional<std::int64_t> entryStartIn(std::int64_t from, std::int64_t to);

    // The entry that starts at `start`, a place where one starts before the
    // end of the file. Throws IoError for a count beyond 64 bits, or when
    // the file ends inside the entry.
    LocatedEntry entryAt(std::int64_t start);

    static constexpr std::int64_t DefaultWindowBytes = 16 << 10;

private:
    // The file's bytes [from, to), valid until the next call.
    std::string_view bytes(std::int64_t from, std::int64_t to);
    // The offset of the first LF at or after `from`; the file's size when
    // there is none.
    std::int64_t nextLineFeed(std::int64_t from);
    // Whether the line that ends with the LF at `lineFeed` is an entry line.
    bool endsEntry(std::int64_t lineFeed);

    std::string path_;
    InputFile file_;
    std::int64_t windowBytes_;
    ByteBuffer window_;
    std::int64_t windowStart_ = 0, windowEnd_ = 0;
    std::string scratch_;
};

// Throws IoError for the path: the count of the line at that byte does not
// fit in 64 bits.
[[noreturn]] void failCountTooLargeAt(const std::string& path, std::int64_t offset);
