// Character mode: every run of N bytes is one n-gram.
#pragma once

#include <cstdint>
#include <ostream>

// Counts the windows of N bytes that start in the chunk's first
// `chunkLength` bytes of `data`. `data` holds `available` bytes: the chunk
// and the up to N - 1 bytes that follow it in the file, so windows across
// the chunk's end are counted here and nowhere else. A window's text is
// its bytes before the first NUL. Prints a progress dot for each counted
// window whose start is a multiple of ProgressInterval. N is 1 to 19.
void scanCharacterChunk(const char* data, std::int64_t chunkLength, std::int64_t available, int n,
                        std::ostream& progress);
