// The word scanner: where the next word after a position lies.
//
// Only five bytes separate words: space ! , . ? Every other byte, line ends,
// NUL and bytes from 0x80 up included, is a word byte. A word begins after a
// separator, so a scan that starts inside a word passes over its rest.
#pragma once

#include <cstdint>
#include <string_view>

// One scan examines at most this many bytes from its start.
inline constexpr std::int32_t WordScanLimit = 20;
// Bytes kept free at a chunk's end per word of an n-gram: no n-gram starts at
// or after length - N x WordMargin, so no scan reads past the chunk.
inline constexpr std::int32_t WordMargin = 25;

// A byte below 0x40 is a separator when its bit is set: space, !, comma, full
// stop and question mark (bits 32, 33, 44, 46, 63).
inline constexpr std::uint64_t SeparatorMask = 0x8000500300000000;

inline bool isSeparator(unsigned char byte) { return byte < 0x40 && ((SeparatorMask >> byte) & 1) != 0; }

// A word that fits in a scan: a separator, the word, the separator that ends
// it, all within the WordScanLimit - 1 bytes before the limit fails a scan.
inline constexpr std::int32_t LongestWord = WordScanLimit - 3;

// The word a scan delivers: at most LongestWord bytes, no separator, no NUL.
struct Word {
    char bytes[WordScanLimit];
    std::int32_t length = 0;
    std::string_view text() const { return {bytes, static_cast<std::size_t>(length)}; }
};

// Scans the next word after `start`: it begins after the first separator and
// ends at the next separator that is not directly behind the first. Returns
// the chunk position of that ending separator, or 0 when it is not found
// within WordScanLimit bytes (the word is then to be ignored). The word is
// cut at its first NUL. The caller keeps WordScanLimit bytes from `start`
// inside the chunk.
std::int32_t extractWord(const char* chunk, std::int32_t start, Word& word);

// Where a delivered word lies in the chunk: `length` bytes from `offset`.
struct WordPlace {
    std::int32_t offset = 0;
    std::int32_t length = 0;
};

// The word scanner's fast form: finds what extractWord finds, with the same
// result and the same contract, but from bit masks of the separator and NUL
// bytes among the bytes a scan examines instead of a loop over them. The
// word is not copied: it is `word`'s bytes of the chunk.
std::int32_t findWord(const char* chunk, std::int32_t start, WordPlace& word);

// findWord for the scans of one chunk, whose length it knows: it classifies
// the 64 bytes from a scan's start at once, so the scans that follow within
// them, as the chunk scan's do, cost a few bit operations each.
class WordFinder {
public:
    WordFinder(const char* chunk, std::int64_t length);
    std::int32_t find(std::int32_t start, WordPlace& word);

private:
    static constexpr std::int32_t WindowBytes = 64;
    const char* chunk_;
    std::int64_t length_;
    // The masks of the bytes from windowStart_ on; none before the first scan.
    std::int32_t windowStart_ = -WindowBytes;
    std::uint64_t separators_ = 0;
    std::uint64_t nuls_ = 0;
};
