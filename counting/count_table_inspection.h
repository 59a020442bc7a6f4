// Inspection of the counting table for tests: what it holds, read without
// writing it out, its hash, and how far its entries are from their home slots.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "counting/ngram_count_table.h"

// With the hash's key fixed by a seed, a test can build texts that share a
// home slot; totalProbeDistance sums every entry's distance from its own.
std::uint64_t hashNGramText(std::string_view text);
void setHashSeed(std::uint64_t seed);
std::uint64_t totalProbeDistance();
std::int64_t distinctNGrams();
void forEachNGram(const std::function<void(std::string_view text, std::int64_t count)>& visit);
void clearNGramCountTable();
// "" when the word table keeps its invariants, else the first one broken.
std::string checkNGramCountTable();
