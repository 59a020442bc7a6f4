// tallomer run as a user runs it: console transcript, exit codes, files.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>

#include <algorithm>

#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

const std::string Banner = "********Massive NGram counter********\n";
const std::string Usage =
    "Wrong Arguments.\nUsage:\nngram [w/c word or character] [N] [input file] [output file]\n"
    "Input file needs to be one byte encoded ISO8592\n";

ProgramRun tallomer(const std::vector<std::string>& arguments) {
    return runProgram(TALLOMER_PROGRAM, arguments);
}

TEST(Tallomer, SmallRunTranscriptAndCountFile) {
    TempDir dir;
    writeFile(dir.path("in"), "abab");
    ProgramRun run = tallomer({"c", "2", dir.path("in"), dir.path("out")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, Banner + "Start...\nFilesize: 4e-06 MB\n\nLoading chunk into memory 1/1\n.\nDone.\n");
    EXPECT_EQ(readFile(dir.path("out")), "ab;2\r\nba;1\r\n");
}

// One CPU (as under `taskset -c 0`) and every CPU the test may use: the
// same count file and console, byte for byte.
TEST(Tallomer, OneCpuAndAllGiveTheSameBytes) {
    TempDir dir;
    writeFile(dir.path("in"), randomBytes(std::string("ab c\0\n;\xE9.,", 10), 3'000'000, 12));
    for (const char* n : {"8", "19"}) {
        ProgramRun all = tallomer({"c", n, dir.path("in"), dir.path("all")});
        ProgramRun one = runProgramPrepared(TALLOMER_PROGRAM, {"c", n, dir.path("in"), dir.path("one")}, [] {
            cpu_set_t first;
            CPU_ZERO(&first);
            CPU_SET(0, &first);
            sched_setaffinity(0, sizeof first, &first);
        });
        EXPECT_EQ(all.exitCode, 0);
        EXPECT_EQ(one.out, all.out) << "c " << n;
        EXPECT_TRUE(readFile(dir.path("one")) == readFile(dir.path("all"))) << "c " << n;
    }
}

TEST(Tallomer, EmptyInputGivesAnEmptyCountFile) {
    TempDir dir;
    writeFile(dir.path("in"), "");
    writeFile(dir.path("out"), "old");
    ProgramRun run = tallomer({"characters", "1", dir.path("in"), dir.path("out")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + "Start...\nFilesize: 0 MB\n\nLoading chunk into memory 1/1\n\nDone.\n");
    EXPECT_EQ(readFile(dir.path("out")), "");
}

TEST(Tallomer, OutputMayNameTheInput) {
    TempDir dir;
    writeFile(dir.path("file"), "aaa");
    ProgramRun run = tallomer({"c", "1", dir.path("file"), dir.path("file")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(readFile(dir.path("file")), "a;3\r\n");
}

TEST(Tallomer, WrongArgumentCountPrintsTheUsageBlock) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"c", "3", "in"}, {"c", "3", "in", "out", "extra"}}) {
        ProgramRun run = tallomer(arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, Banner + Usage);
        EXPECT_EQ(run.err, "");
    }
}

TEST(Tallomer, BadModeOrNIsRefusedBeforeAnythingIsOpened) {
    TempDir dir;
    writeFile(dir.path("in"), "abc");
    for (const auto& [mode, n] : std::vector<std::pair<std::string, std::string>>{{"C", "3"},
                                                                                  {"x", "3"},
                                                                                  {"", "3"},
                                                                                  {"c", "0"},
                                                                                  {"c", "abc"},
                                                                                  {"c", "20"},
                                                                                  {"c", "-3"},
                                                                                  {"w", "0"},
                                                                                  {"w", "85899346"}}) {
        ProgramRun run = tallomer({mode, n, dir.path("in"), dir.path("out")});
        EXPECT_EQ(run.exitCode, 1) << mode << " " << n;
        EXPECT_EQ(run.out, Banner);
        EXPECT_EQ(run.err.rfind("tallomer: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(fileExists(dir.path("out")));
    }
}

TEST(Tallomer, UnreadableInputIsReportedAndLeavesTheOutputAlone) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("dir"));
    writeFile(dir.path("file"), "abc");
    ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0600), 0);
    writeFile(dir.path("existing"), "keep me");
    for (const std::string& input :
         {dir.path("missing"), dir.path("dir"), dir.path("fifo"), dir.path("file/below"),
          std::string("/proc/cpuinfo")}) {  // its size says 0, yet it reads bytes
        for (const std::string& output : {dir.path("new"), dir.path("existing")}) {
            ProgramRun run = tallomer({"c", "2", input, output});
            EXPECT_EQ(run.exitCode, 2) << input;
            EXPECT_EQ(run.out, Banner + "Start...\n");
            EXPECT_EQ(run.err.rfind("tallomer: " + input + ": ", 0), 0u) << run.err;
            EXPECT_FALSE(fileExists(dir.path("new")));
            EXPECT_EQ(readFile(dir.path("existing")), "keep me");
        }
    }
}

TEST(Tallomer, UnwritableOutputIsReported) {
    TempDir dir;
    writeFile(dir.path("in"), "abc");
    std::filesystem::create_directory(dir.path("dir"));
    const struct {
        const char* what;
        std::string output;
        bool beforeCounting;
    } rows[] = {
        {"a missing folder", dir.path("missing/out"), true},
        {"a folder", dir.path("dir"), true},
        {"a full device, known only when written", "/dev/full", false},
    };
    for (const auto& row : rows) {
        ProgramRun run = tallomer({"c", "1", dir.path("in"), row.output});
        EXPECT_EQ(run.exitCode, 2) << row.what;
        EXPECT_EQ(run.err.rfind("tallomer: " + row.output + ": ", 0), 0u) << run.err;
        if (row.beforeCounting) {
            EXPECT_EQ(run.out, Banner + "Start...\n") << row.what;
        } else {
            // The dots have no line end: the report starts on a line of its
            // own only if standard output went out before it.
            EXPECT_TRUE(run.out.ends_with("\n.")) << row.what << ": " << run.out;
        }
    }
}

TEST(Tallomer, InputThatShrinksWhileBeingReadIsAnError) {
    TempDir dir;
    const std::string input = dir.path("in"), output = dir.path("out");
    writeSparseFile(input, "", 150'000'000, "");  // two chunks
    bool truncated = false;
    ProgramRun run =
        runProgram(TALLOMER_PROGRAM, {"c", "1", input, output}, "/dev/null", [&](const std::string& seen) {
            // Whichever chunk is read next, the file is now shorter than sized.
            if (!truncated && seen.find("Loading chunk into memory 1/2") != std::string::npos) {
                std::filesystem::resize_file(input, 1000);
                truncated = true;
            }
        });
    ASSERT_TRUE(truncated) << run.out;
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_EQ(run.err.rfind("tallomer: " + input + ": ", 0), 0u) << run.err;
    EXPECT_FALSE(fileExists(output));
    EXPECT_EQ(run.out.find("Done."), std::string::npos);
}

// The closing pause is the only read of standard input, and it ends on a
// number, on a non-number, at the end of input and with input closed.
TEST(Tallomer, ThePauseEndsWhateverStandardInputHolds) {
    TempDir dir;
    writeFile(dir.path("in"), "ab");
    writeFile(dir.path("number"), "\n\n  42\n");
    writeFile(dir.path("word"), "go\n");
    for (const std::string& stdinPath :
         {dir.path("number"), dir.path("word"), std::string("/dev/null"), std::string()}) {
        ProgramRun run = runProgram(TALLOMER_PROGRAM, {"c", "1", dir.path("in"), dir.path("out")}, stdinPath);
        EXPECT_EQ(run.exitCode, 0) << stdinPath;
        EXPECT_TRUE(run.out.ends_with("\nDone.\n")) << run.out;
    }
}

TEST(Tallomer, CountsALongRunOfOneByte) {
    // Once a stack overflow: the sort went past the last key byte and
    // split the run's equal keys by the bytes beyond.
    TempDir dir;
    for (const auto& [n, bytes] :
         {std::pair{8, std::string(200'000, 'z') + "y"}, std::pair{16, std::string(300'000, 'z') + "y"}}) {
        writeFile(dir.path("in"), bytes);
        ProgramRun run = tallomer({"c", std::to_string(n), dir.path("in"), dir.path("out")});
        EXPECT_EQ(run.exitCode, 0) << "N " << n;
        EXPECT_EQ(readFile(dir.path("out")), countFileOf(everyWindow(bytes, n))) << "N " << n;
    }
}

TEST(Tallomer, CountsWordsAndWordPairs) {
    TempDir dir;
    writeFile(dir.path("in"), "So the cat sat on the mat, the cat ran! " + std::string(60, '~'));
    struct Case {
        const char* n;
        std::string dots;
        Counts counts;
    };
    const Case cases[] = {
        {"1", ".", {{"the", 3}, {"cat", 2}, {"sat", 1}, {"on", 1}, {"mat", 1}, {"ran", 1}}},
        {"2",
         "",
         {{"the cat", 2},
          {"cat sat", 1},
          {"sat on", 1},
          {"on the", 1},
          {"the mat", 1},
          {"mat the", 1},
          {"cat ran", 1},
          {"ran", 1}}},
    };
    for (const auto& c : cases) {
        ProgramRun run = runProgram(TALLOMER_PROGRAM, {"w", c.n, dir.path("in"), dir.path("out")});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out,
                  "********Massive NGram counter********\nStart...\nFilesize: 0.0001 MB\n"
                  "\nLoading chunk into memory 1/1\n" +
                      c.dots + "\nDone.\n");
        EXPECT_EQ(readFile(dir.path("out")), countFileOf(c.counts)) << "N " << c.n;
    }
}

}  // namespace
