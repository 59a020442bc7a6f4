#include "tallomer/word_ngrams.h"

#include <vector>

#include "tallomer/chunked_input.h"
#include "tallomer/ngram_count_table.h"

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

// Consecutive n-grams share N - 1 words: the next one starts where this one's
// first word ended, and its first word is this one's second. So the words of
// the current n-gram are kept, the first dropped and one more scanned, which
// gives the same texts as building each n-gram afresh with buildWordNGram.
void scanWordNGrams(const char* chunk, std::int64_t length, std::int32_t n, std::ostream& progress,
                    const std::function<void(std::string_view)>& count) {
    if (n < 1) return;
    const std::int64_t bound = length - std::int64_t{n} * WordMargin;
    if (bound <= 0) return;

    // The current n-gram: its text, and where each of its words ended, as a
    // ring of N positions starting at `first`.
    std::string text;
    text.reserve((LongestWord + 1) * static_cast<std::size_t>(n));
    std::vector<std::int32_t> ends(static_cast<std::size_t>(n));
    std::int32_t first = 0;
    std::int32_t words = 0;
    bool lastWordFailed = false;  // the scan after the last kept word failed
    Word word;

    std::int64_t p = 0;
    while (p < bound) {
        if (n == 1 && p % ProgressInterval < 5) progress << '.';
        if (words == 0) {
            std::int32_t end = extractWord(chunk, static_cast<std::int32_t>(p), word);
            if (end == 0) {
                ++p;
                continue;
            }
            text.assign(word.text());
            ends[first] = end;
            words = 1;
            lastWordFailed = false;
        }
        while (words < n && !lastWordFailed) {
            std::int32_t end = extractWord(chunk, ends[(first + words - 1) % n], word);
            if (end == 0) {
                lastWordFailed = true;
            } else {
                text += ' ';
                text += word.text();
                ends[(first + words) % n] = end;
                ++words;
            }
        }
        count(text);

        p = ends[first];
        first = (first + 1) % n;
        --words;
        // Words hold no space, so the first space ends the first word.
        if (words == 0)
            text.clear();
        else
            text.erase(0, text.find(' ') + 1);
    }
}

void scanWordChunk(const char* chunk, std::int64_t length, std::int32_t n, std::ostream& progress) {
    scanWordNGrams(chunk, length, n, progress, addNGram);
}
