// Word mode: words found by the word scanner, and runs of N of them.
#pragma once

#include <cstdint>
#include <ostream>

// Counts the word n-grams of one chunk, scanned on its own.
void scanWordChunk(const char* chunk, std::int64_t length, std::int32_t n, std::ostream& progress);
