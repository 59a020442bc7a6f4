#include "counting/word_ngrams.h"

#include <algorithm>
#include <vector>

#include "common/text_bytes.h"
#include "counting/count_request.h"

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

namespace {

// Texts go to the table in runs of this many.
constexpr std::size_t TextRun = 1024;

// Visited positions p with p mod ProgressInterval < 5 get a dot. Positions
// only grow, so the remainder is taken once per dot or interval, not once
// per word.
class WordProgressDots {
public:
    explicit WordProgressDots(const CountingConsole& console) : console_(console) {}
    void visit(std::int64_t p) {
        if (p < nextCandidate_) return;
        std::int64_t offset = p % ProgressInterval;
        if (offset < 5) {
            console_.dots(1);
            nextCandidate_ = p + 1;
        } else {
            nextCandidate_ = p - offset + ProgressInterval;
        }
    }

private:
    const CountingConsole& console_;
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
void scanSingleWords(const char* chunk, std::int64_t length, WordScanSlice slice,
                     const CountingConsole& console, const WordTextsSink& count) {
    WordFinder finder(chunk, length);
    WordProgressDots dots(console);
    PositionsCounted counted(console, slice.from);
    TextRunBuffer run(count);
    WordPlace word;
    for (std::int64_t p = slice.from; p < slice.to;) {
        dots.visit(p);
        counted.reached(p);
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
[[gnu::flatten]] void scanWordRuns(const char* chunk, std::int64_t length, WordScanSlice slice,
                                   std::int32_t n, const CountingConsole& console,
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
    PositionsCounted counted(console, slice.from);

    // Before a word is joined: if the buffer is full, the texts that point
    // into it are handed on and the kept words moved to its front.
    auto makeRoom = [&] {
        if (joined.hasRoom()) return;
        run.flush();
        std::size_t moved = joined.keepFrom(words == 0 ? joined.size() : at(0).joinedStart);
        for (std::int32_t k = 0; k < words; ++k) at(k).joinedStart -= moved;
    };

    for (std::int64_t p = slice.from; p < slice.to;) {
        counted.reached(p);
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

WordScanSlice wholeWordScan(std::int64_t length, std::int32_t n) {
    return {0, n < 1 ? 0 : std::max<std::int64_t>(length - std::int64_t{n} * WordMargin, 0)};
}

void scanWordSlice(const char* chunk, std::int64_t length, std::int32_t n, WordScanSlice slice,
                   const CountingConsole& console, const WordTextsSink& count) {
    if (n < 1 || slice.from >= slice.to) return;
    if (n == 1)
        scanSingleWords(chunk, length, slice, console, count);
    else
        scanWordRuns(chunk, length, slice, n, console, count);
}

void scanWordNGrams(const char* chunk, std::int64_t length, std::int32_t n, const CountingConsole& console,
                    const WordTextsSink& count) {
    scanWordSlice(chunk, length, n, wholeWordScan(length, n), console, count);
}

std::int64_t wordScanMemory(std::int32_t n) {
    return std::int64_t{n} * static_cast<std::int64_t>(sizeof(KeptWord)) +
           static_cast<std::int64_t>(JoinedWords::bytesFor(n));
}
