// tallomer-merge's progress line: drawn when standard error is a terminal
// and erased before whatever follows it; anywhere else not one byte of it.
#include <gtest/gtest.h>

#include <climits>

#include "formats/part_file.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

void writePart(const std::string& path, const PartHeader& header, const Counts& counts) {
    PartWriter writer(path, header);
    for (const auto& [text, count] : counts) writer.add(text, count);
    writer.commit();
}

TEST(TallomerMergeProgress, DrawnOnATerminalOnlyAndErasedBeforeWhatFollows) {
    TempDir dir;
    const std::string input = randomBytes("abcdefgh \n", 200'000, 9);
    const std::string parts[] = {dir.path("part0"), dir.path("part1")};
    writePart(parts[0], PartHeader{'c', 6, {200'000, 0, 1}, 0, 100'000, "in"},
              everyWindow(input.substr(0, 100'005), 6));
    writePart(parts[1], PartHeader{'c', 6, {200'000, 0, 1}, 100'000, 200'000, "in"},
              everyWindow(input.substr(100'000), 6));
    const std::string out = dir.path("out");

    ProgramRun plain = runProgram(TALLOMER_MERGE_PROGRAM, {"1/1", out, parts[0], parts[1]});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(plain.err, "");
    const std::string written = readFile(out);
    EXPECT_TRUE(written == countFileOf(everyWindow(input, 6)));

    ProgramRun drawn = runProgramWithTerminalError(TALLOMER_MERGE_PROGRAM, {"1/1", out, parts[0], parts[1]});
    ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
    EXPECT_EQ(drawn.out, plain.out);
    EXPECT_TRUE(readFile(out) == written);
    EXPECT_NE(drawn.err.find("\rtallomer-merge: reading the part indexes 0 of "), std::string::npos)
        << drawn.err;
    EXPECT_NE(drawn.err.find("\rtallomer-merge: merging 0 B of "), std::string::npos) << drawn.err;
    EXPECT_TRUE(drawn.err.ends_with("\x1b[K\r\x1b[K")) << drawn.err;
    EXPECT_EQ(drawn.err.find('\n'), std::string::npos);

    // A failure while merging is told on a clean line.
    writePart(dir.path("big"), PartHeader{'c', 3, {10, 0, 4}, 0, 10, "big"}, {{"aaa", LLONG_MAX}});
    writePart(dir.path("bigToo"), PartHeader{'c', 3, {10, 0, 5}, 0, 10, "bigToo"}, {{"aaa", 1}});
    ProgramRun failed = runProgramWithTerminalError(TALLOMER_MERGE_PROGRAM,
                                                    {"1/1", out, dir.path("big"), dir.path("bigToo")});
    EXPECT_EQ(failed.exitCode, 2);
    std::size_t report = failed.err.find("\r\x1b[Ktallomer-merge: " + out + ": a text's counts add up to");
    EXPECT_NE(report, std::string::npos) << failed.err;
    EXPECT_NE(failed.err.rfind("\rtallomer-merge: merging ", report), std::string::npos) << failed.err;
    EXPECT_TRUE(readFile(out) == written);
}

}  // namespace
