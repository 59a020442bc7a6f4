// The merge's pure pieces: the range argument, part lists, split points
// and the coverage check.
#include <gtest/gtest.h>

#include <algorithm>

#include "runs/split_points.h"
#include "tallomer-merge/coverage.h"
#include "tallomer-merge/merge_arguments.h"
#include "tests/support/run_program.h"

namespace {

TEST(ParseRange, AcceptsOnlyKOfK) {
    struct Case {
        const char* text;
        std::int64_t k, ranges;  // 0: refused
    } const cases[] = {
        {"1/1", 1, 1},
        {"3/8", 3, 8},
        {"8/8", 8, 8},
        {"0/8", 0, 0},
        {"9/8", 0, 0},
        {"1/0", 0, 0},
        {"2x/8", 0, 0},
        {"+2/8", 0, 0},
        {"2/", 0, 0},
        {"/2", 0, 0},
        {"2", 0, 0},
        {"", 0, 0},
        {"1/99999999999999999999", 0, 0},
    };
    for (const Case& c : cases) {
        ParsedRange parsed = parseRange(c.text);
        ASSERT_EQ(parsed.range.has_value(), c.k != 0) << c.text;
        if (parsed.range) {
            EXPECT_EQ(parsed.range->k, c.k) << c.text;
            EXPECT_EQ(parsed.range->ranges, c.ranges) << c.text;
        } else {
            EXPECT_NE(parsed.error.find("must be k/K"), std::string::npos) << parsed.error;
        }
    }
}

TEST(ExpandPartLists, ListsStandForTheirLinesWithoutEmptyOnes) {
    TempDir dir;
    writeFile(dir.path("list"), "a\n\nb c\n\nd");
    std::string list = "@", missing = "@";
    EXPECT_EQ(expandPartLists({"x", list.append(dir.path("list")), "y"}),
              (std::vector<std::string>{"x", "a", "b c", "d", "y"}));
    try {
        expandPartLists({missing.append(dir.path("missing"))});
        FAIL() << "a missing list was read";
    } catch (const IoError& error) {
        EXPECT_EQ(error.path, dir.path("missing"));
    }
}

std::vector<std::string> allSplits(const std::vector<WeightedText>& texts, std::int64_t ranges) {
    SplitPoints points(texts);
    std::vector<std::string> splits;
    for (std::int64_t j = 1; j < ranges; ++j) splits.emplace_back(points.at(j, ranges));
    return splits;
}

std::vector<WeightedText> numbered(int count, std::int64_t bytes) {
    std::vector<WeightedText> texts;
    for (int i = 0; i < count; ++i)
        texts.push_back({std::string("t").append(std::to_string(1000 + i)), bytes});
    return texts;
}

TEST(SplitPoints, CutAtWeightedQuantiles) {
    std::vector<WeightedText> heavyFirst = numbered(10, 1);
    heavyFirst[0].bytes = 90;  // half the weight before "t1001"
    struct Case {
        const char* what;
        std::vector<WeightedText> texts;
        std::int64_t ranges;
        std::vector<std::string> splits;
    } const cases[] = {
        {"even weights", numbered(100, 7), 4, {"t1025", "t1050", "t1075"}},
        {"one heavy block", heavyFirst, 2, {"t1001"}},
        {"a text in several parts counts once, with the weights added",
         {{"b", 1}, {"a", 1}, {"b", 1}, {"c", 1}},
         2,
         {"b"}},
        {"more ranges than texts: empty ranges",
         {{"a", 5}, {"b", 5}, {"c", 5}},
         6,
         {"b", "b", "b", "c", "c"}},
        {"one text: everything in the last range", {{"a", 5}}, 3, {"a", "a"}},
        {"no texts", {}, 3, {"", ""}},
        {"one range", numbered(5, 1), 1, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(allSplits(c.texts, c.ranges), c.splits) << c.what;
}

TEST(SplitPoints, AreTheSameWhateverTheOrderOfTheParts) {
    std::vector<WeightedText> texts;
    for (int i = 0; i < 300; ++i)
        texts.push_back({std::string(1, static_cast<char>(i * 37 % 256)) + "x", 1 + i % 13});
    std::vector<std::string> expected = allSplits(texts, 7);
    for (unsigned seed = 1; seed < 4; ++seed) {
        std::vector<WeightedText> shuffled = texts;
        std::rotate(shuffled.begin(), shuffled.begin() + 41 * seed, shuffled.end());
        std::reverse(shuffled.begin(), shuffled.begin() + 100);
        EXPECT_EQ(allSplits(shuffled, 7), expected) << "seed " << seed;
    }
    // High bytes sort after low ones (memcmp order).
    EXPECT_GT(static_cast<unsigned char>(expected.back()[0]), 0x80);
}

TEST(SplitPoints, RangesMeetAtTheSplitTexts) {
    SplitPoints points(numbered(4, 1));
    KeyRange first = points.range(1, 2), last = points.range(2, 2), whole = points.range(1, 1);
    EXPECT_EQ(first.from, "");
    EXPECT_EQ(first.to, "t1002");
    EXPECT_EQ(last.from, "t1002");
    EXPECT_FALSE(last.to);
    EXPECT_EQ(whole.from, "");
    EXPECT_FALSE(whole.to);
}

// A merge's progress total: the weight of a range's texts, so that the K
// ranges together weigh what all texts do, empty ones nothing.
TEST(SplitPoints, RangesWeighTheirTexts) {
    std::vector<WeightedText> texts = numbered(10, 3);
    texts[4].bytes = 100;
    SplitPoints points(texts);
    EXPECT_EQ(points.weightIn(points.range(1, 1)), 127);
    EXPECT_EQ(points.weightIn({"t1002", "t1005"}), 106);
    EXPECT_EQ(points.weightIn({"t1004x", "t1004x"}), 0);
    EXPECT_EQ(points.weightIn({"t1009", std::nullopt}), 3);
    for (std::int64_t ranges : {2, 3, 7, 30}) {
        std::int64_t sum = 0;
        for (std::int64_t k = 1; k <= ranges; ++k) sum += points.weightIn(points.range(k, ranges));
        EXPECT_EQ(sum, 127) << ranges << " ranges";
    }
}

PartSummary part(std::string path, std::int64_t from, std::int64_t to, std::string input = "in",
                 std::int64_t size = 100, std::uint64_t sample = 7, char mode = 'c', int n = 3,
                 std::int64_t modified = 0) {
    return {std::move(path), PartHeader{mode, n, {size, modified, sample}, from, to, std::move(input)}};
}

TEST(Coverage, RefusesAllButExactTilings) {
    struct Case {
        const char* what;
        std::vector<PartSummary> parts;
        const char* path;  // nullptr: accepted
        const char* reason;
    } const cases[] = {
        {"one whole part", {part("p", 0, 100)}, nullptr, ""},
        {"parts in any order", {part("q", 40, 100), part("p", 0, 40)}, nullptr, ""},
        {"an empty part inside", {part("p", 0, 40), part("e", 40, 40), part("q", 40, 100)}, nullptr, ""},
        {"two inputs", {part("p", 0, 100), part("x", 0, 5, "other", 5, 9)}, nullptr, ""},
        {"equal files under two names", {part("p", 0, 100), part("q", 0, 100, "/copy/in")}, nullptr, ""},
        {"one input by two names",
         {part("p", 0, 50), part("q", 50, 100, "/node/in")},
         "q",
         "bytes 0-50 of /node/in are in no part (none before"},
        {"an empty input", {part("p", 0, 0, "empty", 0, 1)}, nullptr, ""},
        {"a gap", {part("p", 0, 40), part("q", 50, 100)}, "q", "bytes 40-50 of in are in no part (between p"},
        {"no start", {part("q", 10, 100)}, "q", "bytes 0-10 of in are in no part (none before"},
        {"no end", {part("p", 0, 90)}, "p", "bytes 90-100 of in are in no part (none after"},
        {"an overlap", {part("p", 0, 60), part("q", 50, 100)}, "q", "bytes 50-60 of in are also in p"},
        {"past the end", {part("p", 0, 120)}, "p", "bytes 0-120 reach past the end of in (100 bytes)"},
        {"one path twice", {part("p", 0, 100), part("p", 0, 100)}, "p", "given twice"},
        {"one part by two paths", {part("p", 0, 100), part("./p", 0, 100)}, "p", "the same part as ./p"},
        {"another version",
         {part("p", 0, 100), part("q", 0, 100, "in", 100, 8)},
         "q",
         "parts of different versions of in: this one and p (different bytes)"},
        {"an edit in place",
         {part("p", 0, 50), part("q", 50, 100, "in", 100, 7, 'c', 3, 5)},
         "q",
         "parts of different versions of in: this one and p (modified at different times)"},
        {"another N",
         {part("p", 0, 50), part("q", 50, 100, "in", 100, 7, 'c', 4)},
         "q",
         "counts character 4-grams, but p counts character 3-grams"},
        {"another mode",
         {part("p", 0, 50), part("q", 50, 100, "in", 100, 7, 'w')},
         "q",
         "counts word 3-grams, but p counts character 3-grams"},
    };
    for (const Case& c : cases) {
        std::optional<IoError> problem = coverageProblem(c.parts);
        ASSERT_EQ(problem.has_value(), c.path != nullptr)
            << c.what << ": " << (problem ? problem->what() : "");
        if (!problem) continue;
        EXPECT_EQ(problem->path, c.path) << c.what;
        EXPECT_EQ(std::string(problem->what()).rfind(c.reason, 0), 0u) << c.what << ": " << problem->what();
        std::vector<PartSummary> reversed(c.parts.rbegin(), c.parts.rend());
        if (std::string(c.what).rfind("another", 0) != 0) {
            EXPECT_EQ(coverageProblem(reversed)->what(), std::string(problem->what()))
                << c.what << ", reversed";
        }
    }
}

}  // namespace
