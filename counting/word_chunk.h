// A chunk's word n-grams counted by several threads at once: the chunk's
// scan is cut into slices, and each thread scans slices and hands their
// texts to the word tables that own them (counting/word_exchange.h).
//
// The scan is a walk over positions: from p, the scan either finds a word
// and goes on where it ended (always a separator), or finds none and goes
// on at p + 1; the n-gram found at p depends only on where the first
// separator at or after p lies. So the walk cannot be cut just anywhere,
// but it can at a separator s whose byte before is a word byte: a walk
// that reaches the separator r before s lands in (r, s], as the word
// found from r ends at s at the latest, and every position in (r, s] has
// s as its first separator, so all walks that reach (r, s] find there the
// same word, at most once, and go on from the same place. That place is
// on the whole scan's walk, and a slice started there visits exactly the
// positions the whole scan visits, however the slice before it ran.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "counting/ngram_count_table.h"
#include "counting/word_exchange.h"
#include "counting/word_ngrams.h"

// The whole scan cut into at most `count` consecutive slices of about
// equal length, each starting at a position the whole scan visits. Fewer
// when the bytes offer no place to cut (a chunk of separators only).
std::vector<WordScanSlice> sliceWordScan(const char* chunk, std::int64_t length, std::int32_t n,
                                         std::size_t count);

// Counts the word n-grams of chunks, each scanned on its own, into the
// table: on as many threads as the table has word tables, which the table
// must not change meanwhile. The dots are told in the whole scan's order,
// on the calling thread.
class WordChunks {
public:
    WordChunks(NGramCountTable& table, std::int32_t n);
    ~WordChunks();
    void count(const char* chunk, std::int64_t length, const CountingConsole& console);

private:
    NGramCountTable& table_;
    std::int32_t n_;
    // Between threads, its batches kept from chunk to chunk.
    std::unique_ptr<WordExchange> exchange_;
};

// One chunk counted as WordChunks counts it.
void scanWordChunk(NGramCountTable& table, const char* chunk, std::int64_t length, std::int32_t n,
                   const CountingConsole& console);
