#include "counting/character_ngrams.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "counting/count_request.h"
#include "counting/ngram_count_table.h"
#include "counting/window_sorter.h"

namespace {

// Up to this N a window indexes an array of counters directly: 2^(8N) of
// them, 64 MiB for N = 3, which beats sorting the windows. Every chunk ends
// with a pass over the array, so a chunk needs at least 1/DirectMinFill
// windows per counter to take this way.
constexpr int MaxDirectN = 3;
constexpr std::int64_t DirectMinFill = 16;

void countDirect(std::vector<std::uint32_t>& counts, const Windows& windows, std::int64_t from,
                 std::int64_t to) {
    int shift = 64 - 8 * windows.n;
    std::int64_t p = from;
    for (std::int64_t wideEnd = std::min(to, windows.available - 7); p < wideEnd; ++p) {
        std::uint64_t bytes;
        std::memcpy(&bytes, windows.data + p, sizeof bytes);
        ++counts[__builtin_bswap64(bytes) >> shift];
    }
    for (; p < to; ++p) ++counts[__builtin_bswap64(windows.load(p, 0, windows.n)) >> shift];
}

// A window with a NUL counts as its text before the NUL; all windows that
// begin with that text and a NUL sit side by side in the array, so equal
// texts arrive together and in order.
void addDirectCountsAsRun(NGramCountTable& table, std::vector<std::uint32_t>& counts, int n) {
    table.beginSortedCounts(static_cast<std::int64_t>(counts.size()) / DirectMinFill * (n + 12) + 4096);
    char pending[8];
    std::size_t pendingLength = 0;
    std::int64_t pendingCount = 0;
    for (std::size_t window = 0; window < counts.size(); ++window) {
        if (counts[window] == 0) continue;
        std::uint64_t bytes = __builtin_bswap64(std::uint64_t{window} << (64 - 8 * n));
        char text[8];
        std::memcpy(text, &bytes, sizeof text);
        std::size_t length = strnlen(text, static_cast<std::size_t>(n));
        if (pendingCount > 0 && std::string_view(text, length) != std::string_view(pending, pendingLength)) {
            table.addSortedCount(std::string_view(pending, pendingLength), pendingCount);
            pendingCount = 0;
        }
        std::memcpy(pending, text, length);
        pendingLength = length;
        pendingCount += counts[window];
        counts[window] = 0;
    }
    if (pendingCount > 0) table.addSortedCount(std::string_view(pending, pendingLength), pendingCount);
    table.endSortedCounts();
}

template <std::size_t Words>
void countSorted(NGramCountTable& table, SortBuffers& buffers, const Windows& windows,
                 std::int64_t windowCount, const CountingConsole& console) {
    WindowSorter<Words> sorter(table, buffers, windows, windowCount, console);
    for (std::int64_t blockStart = 0; blockStart < windowCount; blockStart += ProgressInterval) {
        console.dots(1);
        sorter.add(blockStart, std::min(windowCount, blockStart + ProgressInterval));
    }
    sorter.finish();
}

}  // namespace

void CharacterScanner::scanChunk(const char* data, std::int64_t chunkLength, std::int64_t available, int n,
                                 const CountingConsole& console) {
    std::int64_t windowCount = std::min(chunkLength, available - n + 1);
    if (windowCount <= 0) return;
    Windows windows{data, available, n};
    // The counter array is the producer's working memory, like the sort
    // buffers: when it does not fit, the windows are sorted.
    std::int64_t counters = std::int64_t{1} << (8 * std::min(n, MaxDirectN));
    bool direct = n <= MaxDirectN && windowCount >= counters / DirectMinFill &&
                  windowCount <= std::numeric_limits<std::uint32_t>::max() &&
                  counters * static_cast<std::int64_t>(sizeof(std::uint32_t)) <= table_.workingMemory();
    if (direct) {
        // After each chunk the counts become a run and the counters are
        // zero again.
        std::vector<std::uint32_t>& counts = directCounts_;
        if (counts.size() != static_cast<std::size_t>(counters)) counts.assign(counters, 0);
        for (std::int64_t blockStart = 0; blockStart < windowCount; blockStart += ProgressInterval) {
            console.dots(1);
            std::int64_t blockEnd = std::min(windowCount, blockStart + ProgressInterval);
            for (std::int64_t from = blockStart, to; from < blockEnd; from = to) {
                to = std::min(blockEnd, from + CountedStep);
                countDirect(counts, windows, from, to);
                console.counted(to - from);
            }
        }
        addDirectCountsAsRun(table_, counts, n);
    } else if (n <= 8) {
        countSorted<1>(table_, sortBuffers_, windows, windowCount, console);
    } else if (n <= 16) {
        countSorted<2>(table_, sortBuffers_, windows, windowCount, console);
    } else {
        countSorted<3>(table_, sortBuffers_, windows, windowCount, console);
    }
}
