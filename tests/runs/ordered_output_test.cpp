#include "runs/ordered_output.h"

#include <gtest/gtest.h>

#include "common/io_error.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

// Range r writes r + 1 lines of its number: ranges large and small against
// little room to format ahead, so threads wait for their turns.
std::string rangeBytes(std::size_t range) {
    std::string bytes;
    for (std::size_t i = 0; i <= range * 997; ++i) bytes += std::to_string(range) + "\\n";
    return bytes;
}

TEST(OrderedOutput, WritesTheRangesInOrderWhateverTheThreads) {
    constexpr std::size_t Ranges = 40;
    std::string expected;
    for (std::size_t range = 0; range < Ranges; ++range) expected += rangeBytes(range);
    TempDir dir;
    for (std::size_t threads : {1, 2, 3, 7})
        for (std::size_t aheadBytes : {std::size_t{1}, std::size_t{50'000}, std::size_t{1} << 30}) {
            OutputFile file(dir.path("out"));
            writeRangesInOrder(file, Ranges, threads, aheadBytes,
                               [](std::size_t range, OutputFile& out) { out.write(rangeBytes(range)); });
            file.close();
            EXPECT_TRUE(readFile(dir.path("out")) == expected) << threads << " threads, " << aheadBytes;
        }
}

// The first failure ends every thread and is thrown once; the old file stays.
TEST(OrderedOutput, AFailingRangeEndsTheWriting) {
    TempDir dir;
    writeFile(dir.path("out"), "old");
    for (std::size_t threads : {1, 2, 7}) {
        OutputFile file(dir.path("out"));
        try {
            writeRangesInOrder(file, 100, threads, 1000, [](std::size_t range, OutputFile& out) {
                if (range == 13) throw IoError("range 13", "failed");
                out.write(rangeBytes(range));
            });
            ADD_FAILURE() << "no failure thrown";
        } catch (const IoError& failure) {
            EXPECT_EQ(failure.path, "range 13");
        }
        EXPECT_EQ(readFile(dir.path("out")), "old");
    }
}

}  // namespace
