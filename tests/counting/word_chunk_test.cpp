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
