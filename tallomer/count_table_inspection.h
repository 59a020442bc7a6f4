// The count table as the tests see it: its contents without a count file,
// its hash and how far its entries sit from home.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "tallomer/ngram_count_table.h"

// The hash (keyed with the seed, drawn afresh for each run unless a test
// sets one) lets a test build texts whose home slots collide;
// totalProbeDistance sums how far entries sit from home.
std::uint64_t hashNGramText(std::string_view text);
void setHashSeed(std::uint64_t seed);
std::uint64_t totalProbeDistance();
std::int64_t distinctNGrams();
void forEachNGram(const std::function<void(std::string_view text, std::int64_t count)>& visit);
void clearNGramCountTable();
// "" when the word table keeps its invariants, else the first one broken.
std::string checkNGramCountTable();
