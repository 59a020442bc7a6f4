// The counting table as tests see it: what it holds, read without
// writing it out, its hash, and how far its entries are from their home
// slots. Built into the tests alone (tests/CMakeLists.txt: table_for_tests),
// never into the programs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "counting/ngram_count_table.h"

// What the tests may reach of a table.
struct TableForTests {
    static WordTable& words(NGramCountTable& table);
    // Word tables for `tables` threads, whatever the budget.
    static void splitWords(NGramCountTable& table, std::size_t tables);
    static void forEach(NGramCountTable& table,
                        const std::function<void(std::string_view, std::int64_t)>& visit);
};

// With the hash's key fixed by a seed, a test can build texts that share a
// home slot; totalProbeDistance sums every entry's distance from its own.
// setHashSeed empties the word table.
std::uint64_t hashNGramText(NGramCountTable& table, std::string_view text);
void setHashSeed(NGramCountTable& table, std::uint64_t seed);
std::uint64_t totalProbeDistance(NGramCountTable& table);
std::int64_t distinctNGrams(NGramCountTable& table);
void forEachNGram(NGramCountTable& table,
                  const std::function<void(std::string_view text, std::int64_t count)>& visit);
// "" when the word table keeps its invariants, else the first one broken.
std::string checkNGramCountTable(NGramCountTable& table);
