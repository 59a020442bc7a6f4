// The merge of many sources: the same count file however many may be open
// at once, and no sum past 64 bits.
#include "runs/group_merge.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <climits>

#include "common/output_file.h"
#include "formats/count_lines.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

using Sources = std::vector<std::shared_ptr<Run>>;

Sources runsOf(const std::vector<Counts>& tables) {
    static BlockPool pool;
    Sources runs;
    for (const Counts& table : tables) {
        runs.push_back(std::make_shared<Run>(pool, std::size_t{4096}));
        RunWriter writer(*runs.back());
        for (const auto& [text, count] : table) writer.add(text, count);
        writer.finish();
    }
    return runs;
}

struct Merged {
    std::string countFile;
    std::int64_t distinct = 0;
    std::uint64_t total = 0;
    std::int64_t temporaryBytesPeak = 0;
};

Merged merge(const Sources& runs, std::size_t width, const TempDir& dir) {
    std::vector<SourceOpener> openers;
    for (const auto& run : runs) openers.push_back(openerOf(*run));
    Merged merged;
    OutputFile output(dir.path("counts"));
    OutputFileSink sink(output);
    CountLines lines(sink);
    merged.temporaryBytesPeak = mergeInGroups(openers, {width, 4096, dir.path("")}, dir.path("counts"),
                                              [&](std::string_view text, std::int64_t count) {
                                                  lines.add(text, count);
                                                  ++merged.distinct;
                                                  merged.total += static_cast<std::uint64_t>(count);
                                              });
    lines.finish();
    output.close();
    merged.countFile = readFile(dir.path("counts"));
    return merged;
}

TEST(Merge, GroupsGiveTheSameBytesAsOneMerge) {
    std::vector<Counts> tables;
    Counts sum;
    const std::string alphabet("ab\n\r;\x80\xFF", 7);
    for (unsigned i = 0; i < 40; ++i) {
        tables.push_back(everyWindow(randomBytes(alphabet, 300, i), 1 + i % 5));
        for (const auto& [text, count] : tables.back()) sum[text] += count;
    }
    Sources runs = runsOf(tables);
    std::string expected = countFileOf(sum);
    for (std::size_t width : {64, 6, 7}) {
        TempDir dir;
        Merged merged = merge(runs, width, dir);
        EXPECT_TRUE(merged.countFile == expected) << "width " << width;
        EXPECT_EQ(merged.distinct, static_cast<std::int64_t>(sum.size()));
        EXPECT_EQ(merged.total, 40u * 300u - (0 + 1 + 2 + 3 + 4) * 8u);
        EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{"counts"}) << "a temporary file was left";
    }
}

// Sources that share their texts make group runs of about the output's
// size each; those of texts of their own, small ones. Either way the runs
// are merged as they pile up: on disk at once they take a few times the
// output, however many sources there are.
TEST(Merge, GroupRunsTakeAFewTimesTheOutputOnDisk) {
    const std::string alphabet("ab\n\r;\x80\xFF", 7);
    const Counts shared = everyWindow(randomBytes(alphabet, 3'000, 1), 4);
    std::vector<Counts> own;
    for (unsigned i = 0; i < 300; ++i) {
        own.emplace_back();
        for (const auto& [text, count] : everyWindow(randomBytes(alphabet, 100, i), 4))
            own.back()[std::to_string(i) + text] = count;
    }
    struct Case {
        const char* what;
        std::vector<Counts> tables;
    } const cases[] = {
        {"texts shared", std::vector<Counts>(300, shared)},
        {"texts of their own", own},
    };
    for (const Case& c : cases) {
        Counts sum;
        for (const Counts& table : c.tables)
            for (const auto& [text, count] : table) sum[text] += count;
        TempDir dir;
        Merged merged = merge(runsOf(c.tables), 40, dir);
        EXPECT_TRUE(merged.countFile == countFileOf(sum)) << c.what;
        std::int64_t outputBytes = runsOf({sum}).front()->size();
        EXPECT_GT(merged.temporaryBytesPeak, 0) << c.what;
        EXPECT_LE(merged.temporaryBytesPeak, 4 * outputBytes) << c.what;
    }
}

TEST(Merge, ASumPastSixtyFourBitsIsRefused) {
    // Spread over many sources, so that a group's run holds a large sum.
    std::vector<Counts> tables(12, Counts{{"a", 1}, {"big", LLONG_MAX / 10}, {"z", 1}});
    Sources runs = runsOf(tables);
    for (std::size_t width : {64, 6}) {
        TempDir dir;
        writeFile(dir.path("counts"), "old");
        try {
            merge(runs, width, dir);
            FAIL() << "an overflowing sum was written, width " << width;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, dir.path("counts"));
            EXPECT_NE(std::string(error.what()).find("9223372036854775807"), std::string::npos);
        }
        EXPECT_EQ(readFile(dir.path("counts")), "old");
    }
}

TEST(Merge, OpensNoMoreThanTheOpenFileLimitAllows) {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    rlimit few = files;
    std::size_t open = filesIn("/proc/self/fd").size();
    few.rlim_cur = std::min<rlim_t>(files.rlim_cur, open + 40);
    setrlimit(RLIMIT_NOFILE, &few);
    MergeLimits limits = mergeLimitsFor(1000, std::int64_t{1} << 30, "/tmp");
    setrlimit(RLIMIT_NOFILE, &files);
    EXPECT_LE(limits.width, 40u);
    EXPECT_GE(limits.width, 6u);
    MergeLimits tight = mergeLimitsFor(1000, 10 << 20, "/tmp");
    EXPECT_LE(tight.width * tight.bufferBytes, std::size_t{10} << 20);
}

}  // namespace
