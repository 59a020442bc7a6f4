#include "tallomer/word_ngrams.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/text_bytes.h"
#include "tallomer/chunked_input.h"
#include "tallomer/ngram_count_table.h"

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

std::int32_t buildWordNGram(const char* chunk, std::int32_t start, std::int32_t n, std::string& text) {
    Word word;
    std::int32_t first = extractWord(chunk, start, word);
    if (first == 0) return 0;
    text.assign(word.text());
    std::int32_t next = first;
    for (std::int32_t k = 1; k < n; ++k) {
        std::int32_t end = extractWord(chunk, next, word);
        // After a failure `next` stays, so every later scan fails alike.
        if (end == 0) continue;
        text += ' ';
        text += word.text();
        next = end;
    }
    return first;
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

namespace {

// Texts go to the table in runs of this many.
constexpr std::size_t TextRun = 1024;

// Visited positions p with p mod ProgressInterval < 5 get a dot. Positions
// only grow, so the remainder is taken once per dot or interval, not once
// per word.
class WordProgressDots {
public:
    explicit WordProgressDots(std::ostream& progress) : progress_(progress) {}
    void visit(std::int64_t p) {
        if (p < nextCandidate_) return;
        std::int64_t offset = p % ProgressInterval;
        if (offset < 5) {
            progress_ << '.';
            nextCandidate_ = p + 1;
        } else {
            nextCandidate_ = p - offset + ProgressInterval;
        }
    }

private:
    std::ostream& progress_;
    std::int64_t nextCandidate_ = 0;
};

// A run of texts, handed on when full and at the end.
class TextRunBuffer {
public:
    explicit TextRunBuffer(const WordTextsSink& count) : count_(count) {}
    // Returns true when the run is full: the caller then flushes it.
    bool add(std::string_view text) {
        texts_[size_++] = text;
        return size_ == TextRun;
    }
    void flush() {
        if (size_ != 0) count_(texts_, size_);
        size_ = 0;
    }

private:
    const WordTextsSink& count_;
    std::string_view texts_[TextRun];
    std::size_t size_ = 0;
};

// N = 1: a word's text is its bytes in the chunk, so no text is copied.
void scanSingleWords(const char* chunk, std::int64_t length, std::int64_t bound, std::ostream& progress,
                     const WordTextsSink& count) {
    WordFinder finder(chunk, length);
    WordProgressDots dots(progress);
    TextRunBuffer run(count);
    WordPlace word;
    for (std::int64_t p = 0; p < bound;) {
        dots.visit(p);
        std::int32_t end = finder.find(static_cast<std::int32_t>(p), word);
        if (end == 0) {
            ++p;
            continue;
        }
        if (run.add({chunk + word.offset, static_cast<std::size_t>(word.length)})) run.flush();
        p = end;
    }
    run.flush();
}

// The words of the n-grams, each written once, joined by single spaces, in
// a buffer that lives as long as the run of texts pointing into it: every
// n-gram text is then one stretch of it, however many words it shares with
// the one before. A chain of joined words is broken only where an n-gram
// starts afresh.
class JoinedWords {
public:
    explicit JoinedWords(std::int32_t n) : bytes_(bytesFor(n)) {}
    static std::size_t bytesFor(std::int32_t n) {
        return RunBytes + static_cast<std::size_t>(n) * (LongestWord + 1);
    }

    // Whether a word and its joining space fit behind the chain.
    bool hasRoom() const { return used_ + LongestWord + 1 <= bytes_.size(); }
    // Appends a word, joined to the one before unless it starts a chain;
    // returns where it starts.
    std::size_t append(const char* chunk, const WordPlace& word, bool joined) {
        if (joined) bytes_[used_++] = ' ';
        std::size_t start = used_;
        copyShort(bytes_.data() + used_, chunk + word.offset, static_cast<std::size_t>(word.length));
        used_ += static_cast<std::size_t>(word.length);
        return start;
    }
    // The text from `start` to the chain's last word.
    std::string_view textFrom(std::size_t start) const { return {bytes_.data() + start, used_ - start}; }
    std::size_t size() const { return used_; }
    // Moves the bytes from `keep` on to the front; returns how far they moved.
    std::size_t keepFrom(std::size_t keep) {
        std::memmove(bytes_.data(), bytes_.data() + keep, used_ - keep);
        used_ -= keep;
        return keep;
    }

private:
    // Room for two runs of texts of the longest words: the kept words are
    // moved at most once per run.
    static constexpr std::size_t RunBytes = 2 * TextRun * (LongestWord + 1);
    std::vector<char> bytes_;
    std::size_t used_ = 0;
};

// The current n-gram's words as a ring of N: where each ended in the chunk
// and where it starts among the joined words.
struct KeptWord {
    std::int32_t end;
    std::size_t joinedStart;
};

// N of 2 or more. Consecutive n-grams share N - 1 words: the next one starts
// where this one's first word ended, and its first word is this one's
// second. So the words of the current n-gram are kept, the first dropped and
// one more scanned, which gives the same texts as building each n-gram afresh
// with buildWordNGram.
//
// Flattened: the scans are the loop's work, and left to itself the compiler
// calls the finder instead of inlining it here.
[[gnu::flatten]] void scanWordRuns(const char* chunk, std::int64_t length, std::int64_t bound, std::int32_t n,
                                   const WordTextsSink& count) {
    WordFinder finder(chunk, length);
    std::vector<KeptWord> kept(static_cast<std::size_t>(n));
    std::int32_t first = 0;
    std::int32_t words = 0;
    auto at = [&](std::int32_t k) -> KeptWord& {
        std::int32_t i = first + k;
        return kept[static_cast<std::size_t>(i >= n ? i - n : i)];
    };
    bool lastWordFailed = false;  // the scan after the last kept word failed
    JoinedWords joined(n);
    TextRunBuffer run(count);
    WordPlace word;

    // Before a word is joined: if the buffer is full, the texts that point
    // into it are handed on and the kept words moved to its front.
    auto makeRoom = [&] {
        if (joined.hasRoom()) return;
        run.flush();
        std::size_t moved = joined.keepFrom(words == 0 ? joined.size() : at(0).joinedStart);
        for (std::int32_t k = 0; k < words; ++k) at(k).joinedStart -= moved;
    };

    for (std::int64_t p = 0; p < bound;) {
        if (words == 0) {
            std::int32_t end = finder.find(static_cast<std::int32_t>(p), word);
            if (end == 0) {
                ++p;
                continue;
            }
            makeRoom();
            at(0) = {end, joined.append(chunk, word, false)};
            words = 1;
            lastWordFailed = false;
        }
        while (words < n && !lastWordFailed) {
            std::int32_t end = finder.find(at(words - 1).end, word);
            if (end == 0) {
                lastWordFailed = true;
            } else {
                makeRoom();
                at(words) = {end, joined.append(chunk, word, true)};
                ++words;
            }
        }
        if (run.add(joined.textFrom(at(0).joinedStart))) run.flush();

        p = at(0).end;
        first = first + 1 == n ? 0 : first + 1;
        --words;
    }
    run.flush();
}

}  // namespace

void scanWordNGrams(const char* chunk, std::int64_t length, std::int32_t n, std::ostream& progress,
                    const WordTextsSink& count) {
    if (n < 1) return;
    const std::int64_t bound = length - std::int64_t{n} * WordMargin;
    if (bound <= 0) return;
    if (n == 1)
        scanSingleWords(chunk, length, bound, progress, count);
    else
        scanWordRuns(chunk, length, bound, n, count);
}

std::int64_t wordScanMemory(std::int32_t n) {
    return std::int64_t{n} * static_cast<std::int64_t>(sizeof(KeptWord)) +
           static_cast<std::int64_t>(JoinedWords::bytesFor(n));
}

void scanWordChunk(const char* chunk, std::int64_t length, std::int32_t n, std::ostream& progress) {
    scanWordNGrams(chunk, length, n, progress, addNGrams);
}
