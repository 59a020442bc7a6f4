// The one rule both merges follow: the descriptors left under the limit and
// each source's share of the memory.
#include "runs/merge_policy.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "tests/support/run_program.h"

namespace {

TEST(MergePolicy, SharesMemoryOutWithinTheSmallestAndLargestBuffer) {
    struct Case {
        std::int64_t bytes;
        std::size_t readers, share;
    } const cases[] = {
        {std::int64_t{1} << 30, 8, LargestReadBuffer},
        {8 << 20, 64, 128 << 10},
        {1 << 20, 1000, SmallestReadBuffer},
        {-5, 0, SmallestReadBuffer},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readBufferShare(c.bytes, c.readers), c.share) << c.bytes << "/" << c.readers;
}

TEST(MergePolicy, LeavesTheMarginUnderTheOpenFileLimit) {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    std::size_t open = filesIn("/proc/self/fd").size();
    for (std::size_t extra : {100, 10}) {
        rlimit few = files;
        few.rlim_cur = std::min<rlim_t>(files.rlim_cur, open + extra);
        setrlimit(RLIMIT_NOFILE, &few);
        std::size_t left = openFilesLeft();
        setrlimit(RLIMIT_NOFILE, &files);
        // Give or take the descriptor that lists them.
        std::size_t expected = extra > DescriptorMargin + 2 ? extra - DescriptorMargin : 2;
        EXPECT_LE(left, expected + 1) << extra;
        EXPECT_GE(left + 1, expected) << extra;
    }
}

}  // namespace
