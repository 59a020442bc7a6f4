// Character mode: every run of N bytes is one n-gram.
#pragma once

#include <cstdint>
#include <vector>

#include "counting/counting_console.h"
#include "counting/window_sorter.h"

// Counts the windows of N bytes of chunks, keeping its buffers from chunk to
// chunk (their pages are touched once): for N of 1 to 3 one 32-bit counter
// per possible window, indexed by the window's bytes read big-endian, so
// that the array is in the count file's order; above, the sort buffers.
class CharacterScanner {
public:
    // Counts into `table`, which outlives the scanner.
    explicit CharacterScanner(NGramCountTable& table) : table_(table) {}
    // Counts the windows that start in the chunk's first
    // `chunkLength` bytes of `data`. `data` holds `available` bytes: the chunk
    // and the up to N - 1 bytes that follow it in the file, so windows across
    // the chunk's end are counted here and nowhere else. A window's text is
    // its bytes before the first NUL. Tells a progress dot for each counted
    // window whose start is a multiple of ProgressInterval, and the windows
    // counted as it goes. N is 1 to 19.
    void scanChunk(const char* data, std::int64_t chunkLength, std::int64_t available, int n,
                   const CountingConsole& console);
    // After the last chunk: the table keeps the last batch sorted, which
    // the scanner keeps until then, for the final merge to read where it
    // lies.
    void finish() { leaveLastBatch(table_, sortBuffers_); }

private:
    NGramCountTable& table_;
    std::vector<std::uint32_t> directCounts_;
    SortBuffers sortBuffers_;
};
