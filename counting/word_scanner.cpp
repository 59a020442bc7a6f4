#include "counting/word_scanner.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// A scan examines the bytes at offsets 0 to ScannedBytes - 1 from its start
// (see extractWord).
constexpr std::int32_t ScannedBytes = WordScanLimit - 1;

// Bit i stands for the byte at offset i from where the bytes were read.
struct ByteMasks {
    std::uint64_t separators;
    std::uint64_t nuls;
};

#if defined(__SSE2__)
// The separators are 0x20 and 0x21 (b | 1 is 0x21), 0x2C and 0x2E (b | 2 is
// 0x2E), and 0x3F: three comparisons for the five bytes.
ByteMasks masksOf16(const char* bytes) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    __m128i spaceOrBang = _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x01)), _mm_set1_epi8(0x21));
    __m128i commaOrStop = _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x02)), _mm_set1_epi8(0x2E));
    __m128i question = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x3F));
    __m128i separators = _mm_or_si128(_mm_or_si128(spaceOrBang, commaOrStop), question);
    __m128i nuls = _mm_cmpeq_epi8(v, _mm_setzero_si128());
    return {static_cast<std::uint32_t>(_mm_movemask_epi8(separators)),
            static_cast<std::uint32_t>(_mm_movemask_epi8(nuls))};
}

// The bytes of one scan as two loads of 16 that overlap, so not one byte
// after them is read: the chunk may end right there.
ByteMasks scanMasks(const char* bytes) {
    constexpr int Overlap = ScannedBytes - 16;
    ByteMasks low = masksOf16(bytes), high = masksOf16(bytes + Overlap);
    return {low.separators | high.separators << Overlap, low.nuls | high.nuls << Overlap};
}

ByteMasks masksOf64(const char* bytes) {
    ByteMasks masks{0, 0};
    for (int i = 0; i < 64; i += 16) {
        ByteMasks part = masksOf16(bytes + i);
        masks.separators |= part.separators << i;
        masks.nuls |= part.nuls << i;
    }
    return masks;
}
#else
ByteMasks masksOf(const char* bytes, int count) {
    ByteMasks masks{0, 0};
    for (int i = 0; i < count; ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        masks.separators |= std::uint64_t{isSeparator(byte)} << i;
        masks.nuls |= std::uint64_t{byte == 0} << i;
    }
    return masks;
}
ByteMasks scanMasks(const char* bytes) { return masksOf(bytes, ScannedBytes); }
ByteMasks masksOf64(const char* bytes) { return masksOf(bytes, 64); }
#endif

// The bits of `mask` from bit `from` on.
std::uint64_t bitsFrom(std::uint64_t mask, int from) { return mask >> from << from; }

// extractWord's steps on the masks of the bytes from `start` on (bits past
// the scanned ones are ignored).
std::int32_t wordFromMasks(ByteMasks masks, std::int32_t start, WordPlace& word) {
    constexpr std::uint64_t Scanned = (std::uint64_t{1} << ScannedBytes) - 1;
    std::uint64_t separators = masks.separators & Scanned;
    if (separators == 0) return 0;
    int first = std::countr_zero(separators);
    // A separator right after the first one is passed over, not an end.
    std::uint64_t ending = bitsFrom(separators, first + 2);
    if (ending == 0) return 0;
    int end = std::countr_zero(ending);
    int from = first + 1 + static_cast<int>((separators >> (first + 1)) & 1);
    std::uint64_t cuts = bitsFrom(masks.nuls, from);
    int to = std::min(end, std::countr_zero(cuts));  // 64 when there is no NUL
    word = {start + from, to - from};
    return start + end;
}

}  // namespace

std::int32_t extractWord(const char* chunk, std::int32_t start, Word& word) {
    const char* bytes = chunk + start;
    std::int32_t firstSeparator = -1;
    bool cut = false;
    word.length = 0;
    // A separator that ends the word must lie at offset LongestWord + 1 at
    // most: one further it would be the last byte the limit lets a scan
    // examine, where the scan fails anyway, so the scan stops before it.
    for (std::int32_t i = 0; i < WordScanLimit - 1; ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        if (isSeparator(byte)) {
            if (firstSeparator < 0)
                firstSeparator = i;
            else if (i - firstSeparator >= 2)
                return start + i;
            // A separator right after the first one (", " or ". ") is passed over.
        } else if (firstSeparator >= 0 && !cut) {
            if (byte == 0)
                cut = true;
            else
                word.bytes[word.length++] = static_cast<char>(byte);
        }
    }
    return 0;
}

std::int32_t findWord(const char* chunk, std::int32_t start, WordPlace& word) {
    return wordFromMasks(scanMasks(chunk + start), start, word);
}

WordFinder::WordFinder(const char* chunk, std::int64_t length) : chunk_(chunk), length_(length) {}

std::int32_t WordFinder::find(std::int32_t start, WordPlace& word) {
    // Unsigned: a start before the window's also falls outside it.
    std::uint32_t offset = static_cast<std::uint32_t>(start) - static_cast<std::uint32_t>(windowStart_);
    if (offset > WindowBytes - ScannedBytes) {
        // Near the chunk's end, only the scanned bytes are read.
        if (start + std::int64_t{WindowBytes} > length_) return findWord(chunk_, start, word);
        ByteMasks masks = masksOf64(chunk_ + start);
        separators_ = masks.separators;
        nuls_ = masks.nuls;
        windowStart_ = start;
        offset = 0;
    }
    return wordFromMasks({separators_ >> offset, nuls_ >> offset}, start, word);
}
