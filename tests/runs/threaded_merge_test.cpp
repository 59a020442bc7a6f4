// The merge shared out over threads: the same bytes for any number of
// threads, pieces held in memory or spilled, sources in groups; the first
// failure of any thread is the merge's.
#include "runs/threaded_merge.h"

#include <gtest/gtest.h>

#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

// A run's entries from `from` up to `to` (empty: to the end).
class RangeReader final : public CountSource {
public:
    RangeReader(const Run& run, std::size_t bufferBytes, std::string from, std::string to, bool failing)
        : reader_(run, bufferBytes), from_(std::move(from)), to_(std::move(to)), failing_(failing) {}
    bool next() override {
        while (reader_.next()) {
            if (failing_ && reader_.text() >= "b") throw IoError("broken source", "damaged");
            if (reader_.text() < from_) continue;
            if (!to_.empty() && reader_.text() >= to_) return false;
            text_ = reader_.text();
            count_ = reader_.count();
            return true;
        }
        return false;
    }

private:
    RunReader reader_;
    std::string from_, to_;
    bool failing_;
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

// The pieces' split points: every n-th text of the sum, so that some
// pieces are empty when there are many.
std::vector<std::string> splits(const Counts& sum, std::size_t pieces) {
    std::vector<std::string> points{""};
    std::size_t i = 0, step = std::max<std::size_t>(sum.size() / pieces, 1);
    for (const auto& entry : sum)
        if (++i % step == 0 && points.size() < pieces) points.push_back(entry.first);
    while (points.size() < pieces) points.push_back(points.back());
    points.push_back("");
    return points;
}

std::string merged(const Fixture& fixture, ThreadedMergePlan plan, const TempDir& dir,
                   int failingSource = -1) {
    std::vector<std::string> points = splits(fixture.sum, plan.pieces);
    PieceOpener open = [&](std::size_t piece, std::size_t source, std::size_t bytes) {
        return std::make_unique<RangeReader>(*fixture.runs[source], bytes, points[piece], points[piece + 1],
                                             static_cast<int>(source) == failingSource);
    };
    OutputFile output(dir.path("counts"));
    MergeTotals totals = writeMergedPieces(fixture.runs.size(), open, plan, output, dir.path("counts"));
    output.close();
    EXPECT_EQ(totals.distinct, static_cast<std::int64_t>(fixture.sum.size()));
    return readFile(dir.path("counts"));
}

TEST(ThreadedMerge, GivesTheSameBytesForAnyThreads) {
    const Fixture fixture = sources(30);
    const std::string expected = countFileOf(fixture.sum);
    struct Case {
        const char* what;
        std::size_t openAtOnce;
        std::int64_t heldBytes;
    } const cases[] = {
        {"in memory", 64, std::int64_t{1} << 30},
        {"pieces spilled, sources in groups", 6, 0},
    };
    for (const Case& c : cases)
        for (std::size_t threads : {1, 2, 3, 7}) {
            TempDir dir;
            ThreadedMergePlan plan{threads, threads == 1 ? 1 : 4 * threads, 2 * threads,
                                   MergeLimits{c.openAtOnce, 4096, dir.path("")}, c.heldBytes};
            EXPECT_TRUE(merged(fixture, plan, dir) == expected) << c.what << ", threads " << threads;
            EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{"counts"})
                << "a temporary file was left";
        }
}

TEST(ThreadedMerge, TheFirstFailureEndsTheMergeAndKeepsTheOldOutput) {
    const Fixture fixture = sources(8);
    for (std::size_t threads : {1, 3}) {
        TempDir dir;
        writeFile(dir.path("counts"), "old");
        ThreadedMergePlan plan{threads, 4 * threads, 2 * threads, MergeLimits{64, 4096, dir.path("")}, 0};
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
    ThreadedMergePlan roomy = planThreadedMerge(8, 4, std::int64_t{1} << 30, "/tmp");
    EXPECT_EQ(roomy.threads, 4u);
    ThreadedMergePlan tight = planThreadedMerge(8, 4, 8 << 20, "/tmp");
    EXPECT_LT(tight.threads, 4u);
    EXPECT_GE(tight.threads, 1u);
    EXPECT_EQ(tight.threads == 1, tight.pieces == 1);
}

}  // namespace
