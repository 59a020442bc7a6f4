// The K entries of a count file with the highest counts, read on every
// thread at once in the file's pieces (formats/entry_pieces.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RankedEntry {
    std::int64_t count = 0;
    std::int64_t start = 0;  // where it starts in the file
    std::string text;
};

// Highest count first; among equal counts the one earlier in the file.
inline bool ranksAbove(const RankedEntry& a, const RankedEntry& b) {
    return a.count != b.count ? a.count > b.count : a.start < b.start;
}

// The best K of the entries offered in file order. Memory grows with K and
// the texts kept, never with the entries offered.
class TopEntries {
public:
    explicit TopEntries(std::int64_t k) : k_(static_cast<std::size_t>(k)) {}

    // Whether an entry with this count, later in the file than every entry
    // offered so far, is among the best K: asked before its text is put
    // together. Equal to the K-th best it comes after it, so it is not.
    bool wants(std::int64_t count) const { return kept_.size() < k_ || count > kept_.front().count; }
    // The fewest digits of a count that wants() may take: a count of fewer
    // is below the K-th best. 0 while fewer than K are kept.
    int leastDigits() const { return leastDigits_; }
    // Keeps an entry that wants() took.
    void add(std::int64_t count, std::int64_t start, std::string_view text);
    // The entries kept, best first; the set is left empty.
    std::vector<RankedEntry> ranked();

private:
    std::size_t k_;
    int leastDigits_ = 0;
    std::vector<RankedEntry> kept_;  // a heap whose front is the worst kept
};

// The K best entries of the count file, best first, read in `pieces` pieces,
// one a thread: the same entries for any number of pieces. Throws IoError
// naming the file when it cannot be read, is not a count file (see
// EntryLocator::checkEnd) or holds a count beyond 64 bits.
std::vector<RankedEntry> topEntries(const std::string& path, std::int64_t k, std::size_t pieces);
