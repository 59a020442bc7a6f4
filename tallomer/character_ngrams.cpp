#include "tallomer/character_ngrams.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "tallomer/chunked_input.h"
#include "tallomer/ngram_count_table.h"

namespace {

// Up to this N a window indexes an array of counters directly: 2^(8N) of
// them, 64 MiB for N = 3, which beats hashing the windows into the table.
// Every chunk ends with a pass over the array, so a chunk needs at least
// 1/DirectMinFill windows per counter to take this way.
constexpr int MaxDirectN = 3;
constexpr std::int64_t DirectMinFill = 16;
// Windows are handed to the table in runs of this many.
constexpr std::size_t WindowRun = 1024;

// The window's bytes, packed as packText does, cut at the first NUL: the
// lowest high bit of `zeroBytes` marks the first zero byte exactly (higher
// ones may be false), and the bytes from there on are dropped.
std::uint64_t cutAtFirstNul(std::uint64_t window) {
    std::uint64_t zeroBytes = (window - 0x0101010101010101u) & ~window & 0x8080808080808080u;
    return window & (((zeroBytes & (0 - zeroBytes)) >> 7) - 1);
}

std::uint64_t lowBytesMask(int n) { return n >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1; }

// The windows of one chunk, read from a buffer that holds `available` bytes.
struct Windows {
    const char* data;
    std::int64_t available;
    int n;

    // Windows before this one have 8 bytes to load, their own and beyond.
    std::int64_t wideLoadEnd() const { return available - 7; }

    std::uint64_t wideLoad(std::int64_t p) const {
        std::uint64_t bytes;
        std::memcpy(&bytes, data + p, sizeof bytes);
        return bytes;
    }

    // The window's first n bytes (at most 8), packed but not yet cut at a NUL.
    std::uint64_t rawKey(std::int64_t p) const {
        if (p < wideLoadEnd()) return wideLoad(p) & lowBytesMask(n);
        std::uint64_t bytes = 0;
        std::memcpy(&bytes, data + p, static_cast<std::size_t>(n));
        return bytes;
    }
};

// N of 1 to 3: one 32-bit counter per possible window, indexed by the
// window's raw key. The array lives for the whole run, so its pages are
// touched once; after each chunk its counts go to the table, where a window
// with a NUL is cut, and the counters are zero again.
std::vector<std::uint32_t>& directCounters(int n) {
    static std::vector<std::uint32_t> counts;
    std::size_t size = std::size_t{1} << (8 * n);
    if (counts.size() != size) counts.assign(size, 0);
    return counts;
}

void countDirect(std::vector<std::uint32_t>& counts, const Windows& windows, std::int64_t from,
                 std::int64_t to) {
    std::uint64_t mask = lowBytesMask(windows.n);
    std::int64_t p = from;
    for (std::int64_t wideEnd = std::min(to, windows.wideLoadEnd()); p < wideEnd; ++p)
        ++counts[windows.wideLoad(p) & mask];
    for (; p < to; ++p) ++counts[windows.rawKey(p)];
}

void addDirectCountsToTable(std::vector<std::uint32_t>& counts) {
    for (std::size_t window = 0; window < counts.size(); ++window) {
        if (counts[window] == 0) continue;
        addPackedNGram(cutAtFirstNul(window), counts[window]);
        counts[window] = 0;
    }
}

void countPacked(const Windows& windows, std::int64_t from, std::int64_t to) {
    std::uint64_t keys[WindowRun];
    for (std::int64_t p = from; p < to;) {
        std::size_t run = 0;
        for (; run < WindowRun && p < to; ++run, ++p) keys[run] = cutAtFirstNul(windows.rawKey(p));
        addPackedNGrams(keys, run);
    }
}

// N above 8: each window's text is its bytes up to the next NUL.
void countLong(const Windows& windows, std::int64_t from, std::int64_t to) {
    const char* data = windows.data;
    auto findNul = [&](std::int64_t p) {
        const void* nul = std::memchr(data + p, '\0', static_cast<std::size_t>(windows.available - p));
        return nul ? static_cast<const char*>(nul) - data : windows.available;
    };
    std::string_view texts[WindowRun];
    std::int64_t nextNul = findNul(from);
    for (std::int64_t p = from; p < to;) {
        std::size_t run = 0;
        for (; run < WindowRun && p < to; ++run, ++p) {
            if (nextNul < p) nextNul = findNul(p);
            std::int64_t length = std::min<std::int64_t>(windows.n, nextNul - p);
            texts[run] = std::string_view(data + p, static_cast<std::size_t>(length));
        }
        addNGrams(texts, run);
    }
}

}  // namespace

void scanCharacterChunk(const char* data, std::int64_t chunkLength, std::int64_t available, int n,
                        std::ostream& progress) {
    std::int64_t windowCount = std::min(chunkLength, available - n + 1);
    if (windowCount <= 0) return;
    Windows windows{data, available, n};
    bool direct = n <= MaxDirectN && windowCount >= (std::int64_t{1} << (8 * n)) / DirectMinFill &&
                  windowCount <= std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t>* counts = direct ? &directCounters(n) : nullptr;

    for (std::int64_t blockStart = 0; blockStart < windowCount; blockStart += ProgressInterval) {
        progress << '.';
        std::int64_t blockEnd = std::min(windowCount, blockStart + ProgressInterval);
        if (direct)
            countDirect(*counts, windows, blockStart, blockEnd);
        else if (n <= static_cast<int>(MaxPackedLength))
            countPacked(windows, blockStart, blockEnd);
        else
            countLong(windows, blockStart, blockEnd);
    }
    if (direct) addDirectCountsToTable(*counts);
}
