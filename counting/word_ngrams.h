// Word mode: the words found by the word scanner joined into runs of N.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "counting/counting_console.h"
#include "counting/word_scanner.h"

// Joins the word scanned from `start` and the N - 1 words that follow it,
// each scanned from where the one before ended, with single spaces. A later
// word that fails is left out, and so are all after it. Returns the first
// word's result; `text` is replaced only when that is not 0. This is the
// plain form, scanning all N words; the chunk scan reuses words instead.
std::int32_t buildWordNGram(const char* chunk, std::int32_t start, std::int32_t n, std::string& text);

// Receives texts in runs, so that the table can fetch the slots of later
// texts while it counts earlier ones. The texts are valid during the call.
using WordTextsSink = std::function<void(const std::string_view* texts, std::size_t count)>;

// Hands every word n-gram text of one chunk to `count`, in text order: from
// each position below length - N x WordMargin, the n-gram whose first word
// is scanned from there; the next n-gram then starts where its first word
// ended. With N = 1, tells a progress dot at each visited position p with
// p mod 10,000,000 < 5; tells the positions passed as it goes. N below 1
// counts nothing. `length` is at most INT32_MAX.
void scanWordNGrams(const char* chunk, std::int64_t length, std::int32_t n, const CountingConsole& console,
                    const WordTextsSink& count);

// The positions of a chunk scan's stretch: it visits those in [from, to)
// that the whole scan visits, and hands on the n-grams that start there.
struct WordScanSlice {
    std::int64_t from = 0;
    std::int64_t to = 0;
};
// The whole scan: positions below length - N x WordMargin.
WordScanSlice wholeWordScan(std::int64_t length, std::int32_t n);
// scanWordNGrams for a stretch whose `from` the whole scan visits (see
// sliceWordScan): its texts and dots are the whole scan's from there to `to`.
void scanWordSlice(const char* chunk, std::int64_t length, std::int32_t n, WordScanSlice slice,
                   const CountingConsole& console, const WordTextsSink& count);

// The bytes the chunk scan holds for N words: the kept words and the
// joined words.
std::int64_t wordScanMemory(std::int32_t n);
