// What a merge reads of the parts before it writes: the sample of their
// indexes that split points are chosen from, bounded however large the
// parts, the same whatever their order, all of their bytes its weight.
#include "tallomer-merge/part_indexes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <set>

#include "formats/part_file.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

// A part of `count` distinct texts of 100 bytes (longer than the index
// keeps of them): some 40 blocks for 25,000.
std::string writePart(const TempDir& dir, int i, int count) {
    std::set<std::string> texts;
    for (int j = 0; j < count; ++j)
        texts.insert(randomBytes("abcd", 100, static_cast<unsigned>(i * 100'000 + j)));
    std::string path = dir.path("part" + std::to_string(i));
    PartWriter writer(path, PartHeader{'c', 9, {300, 0, 1}, 100 * i, 100 * (i + 1), "in"});
    for (const std::string& text : texts) writer.add(text, 1);
    writer.commit();
    return path;
}

std::vector<std::pair<std::string, std::int64_t>> sorted(const std::vector<WeightedText>& texts) {
    std::vector<std::pair<std::string, std::int64_t>> pairs;
    for (const WeightedText& text : texts) pairs.emplace_back(text.text, text.bytes);
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

TEST(PartIndexes, SampleIsBoundedAndTheSameInAnyOrder) {
    TempDir dir;
    std::vector<std::string> paths = {writePart(dir, 0, 25'000), writePart(dir, 1, 15'000),
                                      writePart(dir, 2, 35'000)};
    std::int64_t blocks = 0, bodyBytes = 0;
    for (const std::string& path : paths) {
        PartReader reader(path, 0);
        blocks += reader.blocks();
        PartIndexCursor index = reader.index();
        while (index.nextPage())
            for (const PartBlock& block : index.page()) bodyBytes += block.bytes;
    }
    ASSERT_GT(blocks, 100);
    const std::vector<std::string> reversed(paths.rbegin(), paths.rend());
    for (std::int64_t mostSampled : {MostSampledTexts, std::int64_t{16}}) {
        PartIndexes indexes = readPartIndexes(paths, std::int64_t{1} << 30, mostSampled);
        auto sample = sorted(indexes.firstTexts);
        EXPECT_EQ(sorted(readPartIndexes(reversed, std::int64_t{1} << 30, mostSampled).firstTexts), sample)
            << mostSampled;
        std::int64_t weight = 0;
        for (const auto& [text, bytes] : sample) {
            EXPECT_EQ(text.size(), IndexedPrefixBytes);
            weight += bytes;
        }
        EXPECT_EQ(weight, bodyBytes) << mostSampled;
        auto size = static_cast<std::int64_t>(sample.size());
        if (blocks <= mostSampled) {
            EXPECT_EQ(size, blocks) << "every block";
        } else {
            EXPECT_LE(size, mostSampled + 3) << "one more a part at most";
            EXPECT_GE(size, mostSampled / 2);
        }
        EXPECT_EQ(indexes.parts.size(), 3u);
    }
    EXPECT_THROW(readPartIndexes(paths, 4'000), std::bad_alloc);
}

}  // namespace
