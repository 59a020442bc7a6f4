// The window sorter on its own: batches cut at and around their capacity,
// windows handed over in uneven pieces, buffers kept from a smaller chunk to
// a larger one, buckets larger than a sorter's scratch; for any number of
// threads the counts and their order are those of a plain count. (Count
// files for several thread counts are compared in spilling_test.cpp.)
#include "counting/window_sorter.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::int64_t>>;

struct Chunk {
    std::int64_t windows;
    std::vector<std::int64_t> cuts;  // where add() calls end, before the last
};

// Counts the windows of `bytes` chunk after chunk, each with a sorter of its
// own over the same buffers, as the character scanner does.
template <std::size_t Words>
Entries sorted(const std::string& bytes, int n, int threads, std::int64_t budget,
               const std::vector<Chunk>& chunks) {
    TempDir dir;
    NGramCountTable table({budget, dir.path(""), 64, threads});
    SortBuffers buffers;
    ExactBuffer buffer(bytes);
    std::int64_t start = 0;
    CountingConsole quiet;
    for (const Chunk& chunk : chunks) {
        Windows windows{buffer.data() + start, buffer.size() - start, n};
        WindowSorter<Words> sorter(table, buffers, windows, chunk.windows, quiet);
        std::int64_t from = 0;
        for (std::int64_t cut : chunk.cuts) {
            sorter.add(from, cut);
            from = cut;
        }
        sorter.add(from, chunk.windows);
        sorter.finish();
        start += chunk.windows;
    }
    leaveLastBatch(table, buffers);
    Entries entries;
    table.visitCountsInOrder(
        [&](std::string_view text, std::int64_t count) { entries.emplace_back(text, count); });
    return entries;
}

Entries expected(const std::string& bytes, int n) {
    Counts counts = everyWindow(bytes, n);
    return Entries(counts.begin(), counts.end());
}

// With no budget a batch holds 4096 windows; with a large one a batch is the
// chunk, and 65,536 windows per slice decide how many threads scatter it.
constexpr std::int64_t Batch = 4096, Slice = 65536;

TEST(WindowSorter, BatchesOfEveryEdgeSizeGiveThePlainCount) {
    struct Case {
        const char* what;
        std::int64_t budget;
        std::vector<Chunk> chunks;
    };
    const std::int64_t large = std::int64_t{1} << 40;
    const Case cases[] = {
        {"one window", 0, {{1, {}}}},
        {"a batch less one", 0, {{Batch - 1, {}}}},
        {"one batch", 0, {{Batch, {}}}},
        {"a batch and one window", 0, {{Batch + 1, {}}}},
        {"pieces across batch ends",
         0,
         {{3 * Batch + 5, {1, Batch - 1, Batch, 2 * Batch + 7, 3 * Batch + 4}}}},
        {"a slice less one", large, {{2 * Slice - 1, {}}}},
        {"slices not a multiple of the threads", large, {{7 * Slice + 3, {Slice, 5 * Slice + 1}}}},
        {"a small chunk, then a larger", large, {{10, {}}, {3 * Slice + 1, {}}, {Batch, {}}}},
        {"a small chunk, then a larger, spilled", 0, {{3, {}}, {2 * Batch + 3, {}}, {1, {}}}},
    };
    // Few distinct bytes: few leading pairs, so buckets far larger than a
    // sorter's share of the scratch, and a NUL at every offset.
    const std::string alphabet("ab\0\xFF", 4);
    for (const Case& c : cases) {
        std::int64_t windows = 0;
        for (const Chunk& chunk : c.chunks) windows += chunk.windows;
        for (int n : {4, 8, 9, 19}) {
            std::string bytes = randomBytes(alphabet, static_cast<std::size_t>(windows + n - 1), 11);
            Entries plain = expected(bytes, n);
            for (int threads : {1, 2, 3, 7}) {
                Entries counted = n <= 8    ? sorted<1>(bytes, n, threads, c.budget, c.chunks)
                                  : n <= 16 ? sorted<2>(bytes, n, threads, c.budget, c.chunks)
                                            : sorted<3>(bytes, n, threads, c.budget, c.chunks);
                EXPECT_TRUE(counted == plain) << c.what << ", c " << n << ", " << threads << " threads";
            }
        }
    }
}

}  // namespace
