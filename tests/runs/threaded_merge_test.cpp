// The merge shared out over threads: the sums of the sources, the same
// bytes for any number of threads, ranges held in memory or spilled,
// sources in groups and their runs merged again, texts below a least count
// left out; the first failure of any thread is the merge's.
#include "runs/threaded_merge.h"

#include <gtest/gtest.h>

#include "runs/key_range_source.h"
#include "runs/record_blocks.h"
#include "runs/run_format.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

// A run's entries, failing once it reaches "b".
class FailingReader final : public CountSource {
public:
    FailingReader(const Run& run, std::size_t bufferBytes) : reader_(run, bufferBytes) {}
    bool next() override {
        if (!reader_.next()) return false;
        if (reader_.text() >= "b") throw IoError("broken source", "damaged");
        text_ = reader_.text();
        count_ = reader_.count();
        return true;
    }

private:
    RunReader reader_;
};

struct Fixture {
    std::vector<std::shared_ptr<Run>> runs;
    Counts sum;
};

Fixture sources(std::size_t count) {
    static BlockPool pool;
    Fixture fixture;
    const std::string alphabet("ab\n\r;\x80\xFF", 7);
    for (unsigned i = 0; i < count; ++i) {
        Counts table = everyWindow(randomBytes(alphabet, 400, i), 1 + i % 4);
        // Texts past 16 bytes that share their first 16.
        for (const auto& [text, n] : everyWindow(randomBytes(alphabet, 60, i), 3))
            table["0123456789abcdef" + text] += n;
        fixture.runs.push_back(std::make_shared<Run>(pool, std::size_t{4096}));
        RunWriter writer(*fixture.runs.back());
        for (const auto& [text, n] : table) {
            writer.add(text, n);
            fixture.sum[text] += n;
        }
        writer.finish();
    }
    return fixture;
}

// The ranges of the plan's threads, cut at the texts of the sum, each
// weighted 1.
std::vector<KeyRange> rangesOf(const Counts& sum, const ThreadedMergePlan& plan) {
    if (plan.threads == 1) return {KeyRange{}};
    std::vector<WeightedText> texts;
    for (const auto& entry : sum) texts.push_back({entry.first, 1});
    return piecesOf(SplitPoints(std::move(texts)), 1, 1, 4 * plan.threads);
}

struct Merged {
    std::string countFile;
    MergeTotals totals;
};

Merged merged(const Fixture& fixture, const ThreadedMergePlan& plan, const TempDir& dir,
              int failingSource = -1, std::int64_t leastCount = 1) {
    RangeOpener open = [&](std::size_t source, const KeyRange& range,
                           std::size_t bytes) -> std::unique_ptr<CountSource> {
        const Run& run = *fixture.runs[source];
        if (static_cast<int>(source) == failingSource) return std::make_unique<FailingReader>(run, bytes);
        return std::make_unique<KeyRangeSource>(std::make_unique<RunReader>(run, bytes), range);
    };
    OutputFile output(dir.path("counts"));
    std::vector<KeyRange> ranges = rangesOf(fixture.sum, plan);
    MergeTotals totals =
        writeMergedRanges(fixture.runs.size(), open, ranges, plan, output, dir.path("counts"), leastCount);
    output.close();
    return {readFile(dir.path("counts")), totals};
}

TEST(ThreadedMerge, GivesTheSumsOfTheSourcesForAnyThreadsAndWidth) {
    const Fixture fixture = sources(30);
    const std::string expected = countFileOf(fixture.sum);
    struct Case {
        const char* what;
        std::size_t width;
        std::int64_t heldBytes;
    } const cases[] = {
        {"in memory", 64, std::int64_t{1} << 30},
        // Groups of 3 sources, their runs merged again as they pile up.
        {"width 6, ranges spilled", 6, 0},
    };
    for (const Case& c : cases)
        for (std::size_t threads : {1, 2, 3, 7}) {
            TempDir dir;
            ThreadedMergePlan plan{threads, 2 * threads, MergeLimits{c.width, 4096, dir.path("")},
                                   c.heldBytes};
            Merged result = merged(fixture, plan, dir);
            EXPECT_TRUE(result.countFile == expected) << c.what << ", threads " << threads;
            EXPECT_EQ(result.totals.distinct, static_cast<std::int64_t>(fixture.sum.size()));
            EXPECT_EQ(result.totals.temporaryBytesPeak > 0, c.width < 30)
                << c.what << ", threads " << threads;
            EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{"counts"})
                << "a temporary file was left";
        }
}

TEST(ThreadedMerge, LeavesOutTheTextsWhoseSumIsBelowTheLeastCount) {
    const Fixture fixture = sources(12);
    for (std::int64_t least : {std::int64_t{2}, std::int64_t{7}, std::int64_t{1} << 40}) {
        Counts kept;
        std::int64_t leftOut = 0;
        std::uint64_t total = 0, leftOutTotal = 0;
        for (const auto& [text, n] : fixture.sum) {
            if (n >= least) {
                kept[text] = n;
                total += static_cast<std::uint64_t>(n);
            } else {
                ++leftOut;
                leftOutTotal += static_cast<std::uint64_t>(n);
            }
        }
        ASSERT_EQ(kept.empty(), least > 7) << "the fixture has texts on both sides of the least counts";
        const std::string expected = countFileOf(kept);
        for (std::size_t threads : {1, 2, 3, 7}) {
            TempDir dir;
            // Groups of 3 sources: the least count applies to the sum, not to a group's run.
            ThreadedMergePlan plan{threads, 2 * threads, MergeLimits{6, 4096, dir.path("")}, 0};
            Merged result = merged(fixture, plan, dir, -1, least);
            EXPECT_TRUE(result.countFile == expected) << "least " << least << ", threads " << threads;
            EXPECT_EQ(result.totals.distinct, static_cast<std::int64_t>(kept.size()));
            EXPECT_EQ(result.totals.total, total);
            EXPECT_EQ(result.totals.leftOutDistinct, leftOut);
            EXPECT_EQ(result.totals.leftOutTotal, leftOutTotal);
        }
    }
}

TEST(ThreadedMerge, TheFirstFailureEndsTheMergeAndKeepsTheOldOutput) {
    const Fixture fixture = sources(8);
    for (std::size_t threads : {1, 3}) {
        TempDir dir;
        writeFile(dir.path("counts"), "old");
        ThreadedMergePlan plan{threads, 2 * threads, MergeLimits{64, 4096, dir.path("")}, 0};
        try {
            merged(fixture, plan, dir, 5);
            FAIL() << "a damaged source was merged, threads " << threads;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, "broken source");
        }
        EXPECT_EQ(readFile(dir.path("counts")), "old");
        EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{"counts"}) << "a temporary file was left";
    }
}

TEST(ThreadedMerge, UsesFewerThreadsWhenTheBudgetCannotGiveEachItsBuffers) {
    ThreadedMergePlan roomy = planThreadedMerge(8, 4, std::int64_t{1} << 30, "/tmp", false);
    EXPECT_EQ(roomy.threads, 4u);
    EXPECT_GE(rangesFor(roomy, std::int64_t{1} << 30), 16u);
    ThreadedMergePlan tight = planThreadedMerge(8, 4, 8 << 20, "/tmp", false);
    EXPECT_LT(tight.threads, 4u);
    EXPECT_GE(tight.threads, 1u);
    EXPECT_EQ(tight.threads == 1, rangesFor(tight, std::int64_t{1} << 30) == 1);
}

}  // namespace

namespace {

// The merge's entries handed to a visitor, in order, for any threads, held
// ranges or spilled ones, and groups merged again.
TEST(ThreadedMerge, VisitsTheSumsInOrderForAnyThreadsAndWidth) {
    const Fixture fixture = sources(30);
    const std::vector<std::pair<std::string, std::int64_t>> expected(fixture.sum.begin(), fixture.sum.end());
    for (std::size_t width : {64, 6})
        for (std::int64_t heldBytes : {std::int64_t{1} << 30, std::int64_t{0}})
            for (std::size_t threads : {1, 2, 3, 7}) {
                TempDir dir;
                ThreadedMergePlan plan{threads, 2 * threads, MergeLimits{width, 4096, dir.path("")},
                                       heldBytes};
                RangeOpener open = [&](std::size_t source, const KeyRange& range,
                                       std::size_t bytes) -> std::unique_ptr<CountSource> {
                    return std::make_unique<KeyRangeSource>(
                        std::make_unique<RunReader>(*fixture.runs[source], bytes), range);
                };
                std::vector<std::pair<std::string, std::int64_t>> visited;
                MergeTotals totals = visitMergedRanges(
                    fixture.runs.size(), open, rangesOf(fixture.sum, plan), plan, dir.path("counts"),
                    [&](std::string_view text, std::int64_t count) { visited.emplace_back(text, count); });
                EXPECT_TRUE(visited == expected)
                    << "width " << width << ", held " << heldBytes << ", threads " << threads;
                EXPECT_EQ(totals.distinct, static_cast<std::int64_t>(expected.size()));
            }
}

// Records coded in blocks and read back from their bytes cut anywhere, a
// text longer than a block included.
TEST(RecordBlocks, ReadBackWhereverTheirBytesAreCut) {
    std::vector<std::pair<std::string, std::int64_t>> entries;
    for (int i = 0; i < 3000; ++i) entries.emplace_back("t" + std::to_string(i * 37), i % 300);
    entries.emplace_back("u" + std::string(10'000, 'x'), 1 << 30);
    entries.emplace_back("v", INT64_MAX);
    struct Collect final : BlockSink {
        std::string bytes;
        void take(CountBlock& block) override {
            bytes.append(block.view());
            block.used = 0;
        }
    } sink;
    RecordBlocks blocks(sink, 4096);
    for (const auto& [text, count] : entries) blocks.add(text, count);
    blocks.finish();
    for (std::size_t cut :
         {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{4096}, sink.bytes.size()}) {
        std::vector<std::pair<std::string, std::int64_t>> read;
        RecordReplay replay(
            [&](std::string_view text, std::int64_t count) { read.emplace_back(text, count); });
        for (std::size_t at = 0; at < sink.bytes.size(); at += cut)
            replay.write(std::string_view(sink.bytes).substr(at, cut));
        EXPECT_TRUE(read == entries) << "cut every " << cut << " bytes";
    }
}

}  // namespace
