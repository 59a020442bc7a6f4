#include "counting/word_chunk.h"

#include <sstream>
#include <string>

#include "common/parallel.h"
#include "counting/word_scanner.h"

namespace {

// The first position from `cut` on where a scan may start a slice (see the
// header), or `bound` when there is none before it.
std::int64_t slicePointFrom(const char* chunk, std::int64_t cut, std::int64_t bound) {
    for (std::int64_t s = std::max<std::int64_t>(cut, 1); s < bound; ++s) {
        if (!isSeparator(static_cast<unsigned char>(chunk[s])) ||
            isSeparator(static_cast<unsigned char>(chunk[s - 1])))
            continue;
        WordPlace word;
        std::int32_t end = findWord(chunk, static_cast<std::int32_t>(s), word);
        return end != 0 ? end : s + 1;
    }
    return bound;
}

}  // namespace

std::vector<WordScanSlice> sliceWordScan(const char* chunk, std::int64_t length, std::int32_t n,
                                         std::size_t count) {
    WordScanSlice whole = wholeWordScan(length, n);
    std::vector<WordScanSlice> slices;
    std::int64_t from = whole.from;
    for (std::size_t i = 1; i < count && from < whole.to; ++i) {
        std::int64_t cut = whole.to / static_cast<std::int64_t>(count) * static_cast<std::int64_t>(i);
        std::int64_t start = slicePointFrom(chunk, std::max(cut, from + 1), whole.to);
        if (start >= whole.to) break;
        slices.push_back({from, start});
        from = start;
    }
    slices.push_back({from, whole.to});
    return slices;
}

void scanWordChunk(NGramCountTable& table, const char* chunk, std::int64_t length, std::int32_t n,
                   std::ostream& progress) {
    std::vector<WordScanSlice> slices = sliceWordScan(chunk, length, n, table.wordTables());
    if (slices.size() == 1) {
        scanWordSlice(
            chunk, length, n, slices[0], progress,
            [&](const std::string_view* texts, std::size_t count) { table.addNGrams(0, texts, count); });
        return;
    }
    std::vector<std::string> dots(slices.size());
    runInParallel(slices.size(), [&](std::size_t i) {
        std::ostringstream sliceProgress;
        scanWordSlice(
            chunk, length, n, slices[i], sliceProgress,
            [&](const std::string_view* texts, std::size_t count) { table.addNGrams(i, texts, count); });
        dots[i] = sliceProgress.str();
    });
    for (const std::string& sliceDots : dots) progress << sliceDots;
}
