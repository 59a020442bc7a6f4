#include "counting/word_chunk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <vector>

#include "tests/counting/word_texts.h"

namespace {

using namespace word_texts;

}  // namespace

// A chunk's scan cut into slices, each scanned on its own from its start,
// gives the whole scan's texts and dots, wherever the cuts fall.
TEST(SliceWordScan, SlicesTogetherScanWhatTheWholeScanDoes) {
    std::mt19937 random(77);
    std::vector<std::string> chunks = {std::string(5000, ' '), std::string(5000, 'x'),
                                       std::string(4000, 'x') + std::string(1000, ' ')};
    for (int round = 0; round < 40; ++round) chunks.push_back(randomChunk(random, 200 + random() % 20000));
    std::string dotted;
    while (dotted.size() < 10'000'100) dotted += random() % 3 ? " ab" : ". c";
    chunks.push_back(dotted);
    for (const std::string& bytes : chunks) {
        ExactBuffer chunk(bytes);
        for (std::int32_t n : {1, 2, 3}) {
            std::string wholeDots;
            Texts whole = scanTexts(bytes, n, &wholeDots);
            for (std::size_t count : {2, 3, 7, 64}) {
                std::vector<WordScanSlice> slices = sliceWordScan(chunk.data(), chunk.size(), n, count);
                ASSERT_LE(slices.size(), count);
                Texts texts;
                std::ostringstream dots;
                for (const WordScanSlice& slice : slices)
                    scanWordSlice(chunk.data(), chunk.size(), n, slice, PrintedConsole(dots),
                                  [&](const std::string_view* run, std::size_t size) {
                                      texts.insert(texts.end(), run, run + size);
                                  });
                EXPECT_TRUE(texts == whole)
                    << bytes.size() << " bytes, N " << n << ", " << count << " slices";
                EXPECT_EQ(dots.str(), wholeDots) << bytes.size() << " bytes, N " << n;
                if (bytes.size() > 10'000'000) {
                    EXPECT_EQ(slices.size(), count);
                }
            }
        }
    }
}

// Word tables that split the texts by hash, each counted by a thread of its
// own, count what the scan finds: texts handed to other threads and texts
// too long to hand over, in memory and spilled at every new text (no
// budget), and chunks that offer fewer slices than threads.
TEST(ScanWordChunk, TablesSplitByHashCountWhatTheScanFinds) {
    std::mt19937 random(91);
    std::string spaced;  // 740 of these words take about MaxHandedTextBytes
    while (spaced.size() < 30'000) spaced += letters(1 + static_cast<int>(random() % 8)) + ' ';
    struct Case {
        std::int32_t n;
        std::vector<std::string> chunks;
    };
    const Case cases[] = {
        {1, {randomChunk(random, 50'000), std::string(3000, ' '), randomChunk(random, 9'000)}},
        {3, {randomChunk(random, 50'000), std::string(3000, 'x'), randomChunk(random, 9'000)}},
        {740, {spaced}},
    };
    for (const Case& test : cases) {
        Counts expected;
        std::string expectedDots;
        for (const std::string& bytes : test.chunks) {
            std::string dots;
            for (const std::string& text : scanTexts(bytes, test.n, &dots)) ++expected[text];
            expectedDots += dots;
        }
        for (std::size_t threads : {1, 2, 3, 7})
            for (std::int64_t budget : {std::int64_t{1} << 40, std::int64_t{0}}) {
                std::string what = "w " + std::to_string(test.n) + ", " + std::to_string(threads) +
                                   " threads, budget " + std::to_string(budget);
                TempDir dir;
                NGramCountTable table({budget, dir.path(""), 64, static_cast<int>(threads)});
                TableForTests::splitWords(table, threads);
                std::ostringstream dots;
                for (const std::string& bytes : test.chunks) {
                    ExactBuffer chunk(bytes);
                    scanWordChunk(table, chunk.data(), chunk.size(), test.n, PrintedConsole(dots));
                }
                EXPECT_TRUE(tableContents(table) == expected) << what;
                EXPECT_EQ(dots.str(), expectedDots) << what;
                if (budget == 0) {
                    EXPECT_GT(table.countingStatistics().runsSpilled, 0) << what;
                }
            }
    }
}
