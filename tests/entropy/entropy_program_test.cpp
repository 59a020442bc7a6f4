// entropy run as a user runs it, and on count files that tallomer wrote.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <sstream>

#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

const std::string Usage =
    "Wrong Arguments.\nUsage:\nentropy [input file]\nInput file needs to be one byte encoded ISO8592\n";

ProgramRun entropy(const std::vector<std::string>& arguments, const std::string& stdinPath = "/dev/null",
                   const OutputWatch& watch = {}) {
    return runProgram(ENTROPY_PROGRAM, arguments, stdinPath, watch);
}

TEST(Entropy, ReportsTheThreeFiguresAndWaitsForANumber) {
    TempDir dir;
    writeFile(dir.path("counts"), "a;1\r\nb;1\r\nc;2\r\n");
    for (const char* answer : {"", "7\n", "not a number\n"}) {
        writeFile(dir.path("answer"), answer);
        ProgramRun run = entropy({dir.path("counts")}, dir.path("answer"));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "Number of different NGrams: 3\nTotal number of NGrams: 4\nSum: -1.5\n");
        EXPECT_EQ(run.err, "");
    }
}

TEST(Entropy, WrongArgumentCountPrintsOnlyTheUsageBlock) {
    TempDir dir;
    writeFile(dir.path("counts"), "a;1\r\n");
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {dir.path("counts"), dir.path("counts")}}) {
        ProgramRun run = entropy(arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, Usage);
        EXPECT_EQ(run.err, "");
    }
}

TEST(Entropy, UnreadableInputIsReportedWithoutAReport) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("dir"));
    writeFile(dir.path("file"), "a;1\r\n");
    ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0600), 0);
    for (const std::string& input :
         {dir.path("missing"), dir.path("dir"), dir.path("fifo"), dir.path("file/below"), std::string()}) {
        ProgramRun run = entropy({input});
        EXPECT_EQ(run.exitCode, 2) << input;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("entropy: " + (input.empty() ? "" : input + ": "), 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST(Entropy, AConsoleClosedEarlyIsAWriteError) {
    TempDir dir;
    writeFile(dir.path("counts"), "a;1\r\n");
    ProgramRun run = runProgramWithClosedConsole(ENTROPY_PROGRAM, {dir.path("counts")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "entropy: standard output: write error\n");
}

TEST(Entropy, CountBeyond64BitsIsReportedWithItsLine) {
    TempDir dir;
    writeFile(dir.path("counts"), "a;1\r\nb;18446744073709551616\r\n");
    ProgramRun run = entropy({dir.path("counts")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "entropy: " + dir.path("counts") + ": line 2: the count does not fit in 64 bits\n");
}

struct Expected {
    std::int64_t distinct = 0;
    std::int64_t total = 0;
    double sum = 0.0;
};

Expected expectedFor(const std::vector<std::int64_t>& counts) {
    Expected expected;
    expected.distinct = static_cast<std::int64_t>(counts.size());
    expected.total = std::accumulate(counts.begin(), counts.end(), std::int64_t{0});
    for (std::int64_t count : counts) {
        double p = static_cast<double>(count) / static_cast<double>(expected.total);
        expected.sum += p * std::log2(p);
    }
    return expected;
}

std::string sixDigits(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// Runs tallomer c N on the text, then entropy on its count file.
ProgramRun entropyOfTallomer(const TempDir& dir, const std::string& text, int n) {
    writeFile(dir.path("corpus"), text);
    ProgramRun counted =
        runProgram(TALLOMER_PROGRAM, {"c", std::to_string(n), dir.path("corpus"), dir.path("counts")});
    EXPECT_EQ(counted.exitCode, 0) << counted.err;
    return entropy({dir.path("counts")});
}

// Without digits in the corpus no part of a text can pass for a count: the
// figures are exactly those of tallomer's table.
TEST(Entropy, ReadsExactlyTheTableTallomerWrote) {
    const std::string corpus = randomBytes(";;\r\r\n\n \t+-abc\xE9\xFF\x80\x1A", 20'000, 4);
    for (int n : {1, 2, 3, 5, 8, 19}) {
        TempDir dir;
        auto table = everyWindow(corpus, n);
        std::vector<std::int64_t> counts;
        for (const auto& [text, count] : table) counts.push_back(count);
        Expected expected = expectedFor(counts);
        ASSERT_EQ(expected.total, static_cast<std::int64_t>(corpus.size()) - n + 1);

        ProgramRun run = entropyOfTallomer(dir, corpus, n);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "Number of different NGrams: " + std::to_string(table.size()) +
                               "\nTotal number of NGrams: " + std::to_string(expected.total) +
                               "\nSum: " + sixDigits(expected.sum) + "\n")
            << "N " << n;
    }
}

// With digits, a text such as "x;12" LF "y" also yields the count 12 of its
// first line: the figures are those of every count the rule finds.
TEST(Entropy, ReadsWhatTheRuleFindsInTextsHoldingCounts) {
    const std::string corpus = randomBytes(";;\r\n\n 0123456789+-a\xE9", 20'000, 5);
    for (int n : {3, 5, 8, 19}) {
        TempDir dir;
        auto table = everyWindow(corpus, n);
        std::vector<std::int64_t> counts = countsReadFor(table);
        ASSERT_GT(counts.size(), table.size()) << "the corpus should hold such texts for N " << n;
        Expected expected = expectedFor(counts);

        ProgramRun run = entropyOfTallomer(dir, corpus, n);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::string totals = "Number of different NGrams: " + std::to_string(expected.distinct) +
                             "\nTotal number of NGrams: " + std::to_string(expected.total) + "\nSum: ";
        ASSERT_EQ(run.out.substr(0, totals.size()), totals) << "N " << n;
        std::string sum = run.out.substr(totals.size());
        if (std::isnan(expected.sum))
            EXPECT_NE(sum.find("nan"), std::string::npos) << sum;
        else
            EXPECT_EQ(sum, sixDigits(expected.sum) + "\n");
    }
}

// The sum is worked out in a second reading of the file; a file cut short
// after the first reading is an error, not a sum over what is left.
TEST(Entropy, AFileThatShrinksWhileBeingReadIsAnError) {
    TempDir dir;
    const std::string counts = dir.path("counts");
    writeSparseFile(counts, "b;3\r\n", 150'000'000, "a;5\r\n");
    ProgramRun run = entropy({counts}, "/dev/null", [&](const std::string& seen) {
        if (seen.ends_with("Total number of NGrams: 8\n") && std::filesystem::file_size(counts) > 20)
            std::filesystem::resize_file(counts, 20);
    });
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_EQ(run.out.find("Sum:"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.rfind("entropy: " + counts + ": ", 0), 0u) << run.err;
}

// Positions beyond 2^31: a sparse file of more than 2 GiB whose last entry
// lies past that mark. Opt-in, as it needs about 3 GB of memory for a moment.
TEST(Entropy, ReadsAFileLargerThan2GiB) {
    if (!std::getenv("NGRAM_LARGE_TESTS")) GTEST_SKIP() << "set NGRAM_LARGE_TESTS=1 to run";
    TempDir dir;
    const std::string counts = dir.path("counts");
    writeSparseFile(counts, "b;3\r\n", (std::int64_t{1} << 31) + 100, "a;5\r\n");
    ProgramRun run = entropy({counts});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find("Sum")),
              "Number of different NGrams: 2\nTotal number of NGrams: 8\n");
}

}  // namespace
