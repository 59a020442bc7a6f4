// distribution run as a user runs it, and on count files that tallomer wrote.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

using Buckets = std::map<std::int64_t, std::int64_t>;

const std::string Usage =
    "Wrong Arguments.\nUsage:\nhistogramm [bucket size] [input file] [output file]\n"
    "Input file needs to be one byte encoded ISO8592\n";

ProgramRun distribution(const std::vector<std::string>& arguments) {
    return runProgram(DISTRIBUTION_PROGRAM, arguments);
}

// The histogram file's lines, each "index;number" CR LF, every index once.
Buckets readHistogram(const std::string& path) {
    std::string bytes = readFile(path);
    Buckets buckets;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "line without CR LF in " << bytes;
            break;
        }
        std::string line = bytes.substr(start, end - start);
        std::size_t separator = line.find(';');
        EXPECT_NE(separator, std::string::npos) << line;
        std::int64_t index = std::stoll(line.substr(0, separator));
        EXPECT_EQ(std::to_string(index) + ";", line.substr(0, separator + 1)) << "index not plain decimal";
        EXPECT_EQ(buckets.count(index), 0u) << "index twice: " << index;
        buckets[index] = std::stoll(line.substr(separator + 1));
        start = end + 2;
    }
    return buckets;
}

TEST(Distribution, WritesTheHistogramAndNothingOnTheConsole) {
    TempDir dir;
    writeFile(dir.path("counts"), "a;1\r\nb;9\r\nc;10\r\nd;25\r\ne;10\r\n");
    ProgramRun run = distribution({"10", dir.path("counts"), dir.path("hist")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readHistogram(dir.path("hist")), (Buckets{{0, 2}, {1, 2}, {2, 1}}));
}

// Neither the order of the count file nor the hash map's decides the order.
TEST(Distribution, HistogramLinesComeInAscendingSignedIndexOrder) {
    TempDir dir;
    writeFile(dir.path("counts"), "a;40\r\nb;-25\r\nc;3\r\nd;12\r\ne;-5\r\nf;-130\r\ng;1000\r\nh;-91\r\n");
    ProgramRun run = distribution({"10", dir.path("counts"), dir.path("hist")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFile(dir.path("hist")), "-13;1\r\n-9;1\r\n-2;1\r\n0;2\r\n1;1\r\n4;1\r\n100;1\r\n");
}

TEST(Distribution, EmptyOrOneByteInputGivesAnEmptyHistogram) {
    TempDir dir;
    for (const char* bytes : {"", ";", "7"}) {
        writeFile(dir.path("counts"), bytes);
        writeFile(dir.path("hist"), "old histogram");
        ProgramRun run = distribution({"10", dir.path("counts"), dir.path("hist")});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(fileExists(dir.path("hist")));
        EXPECT_EQ(readFile(dir.path("hist")), "") << bytes;
    }
}

TEST(Distribution, OutputMayNameTheInput) {
    TempDir dir;
    writeFile(dir.path("file"), "a;3\r\nb;3\r\n");
    ProgramRun run = distribution({"1", dir.path("file"), dir.path("file")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(readFile(dir.path("file")), "3;2\r\n");
}

TEST(Distribution, WrongArgumentCountPrintsTheUsageBlockAndTouchesNothing) {
    TempDir dir;
    writeFile(dir.path("counts"), "a;1\r\n");
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{},
          {"10", dir.path("counts")},
          {"10", dir.path("counts"), dir.path("hist"), dir.path("extra")}}) {
        ProgramRun run = distribution(arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, Usage);
        EXPECT_EQ(run.err, "");
        EXPECT_FALSE(fileExists(dir.path("hist")));
        EXPECT_FALSE(fileExists(dir.path("extra")));
    }
}

TEST(Distribution, BadBucketSizeIsRefusedBeforeAnythingIsOpened) {
    TempDir dir;
    writeFile(dir.path("counts"), "a;1\r\n");
    writeFile(dir.path("existing"), "keep me");
    for (const std::string size : {"0", "abc", "", "-0", "9223372036854775808", "-9223372036854775809"}) {
        for (const std::string& output : {dir.path("new"), dir.path("existing")}) {
            ProgramRun run = distribution({size, dir.path("missing"), output});
            EXPECT_EQ(run.exitCode, 1) << size;
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err.rfind("distribution: bucket size \"" + size + "\" must be ", 0), 0u) << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            EXPECT_FALSE(fileExists(dir.path("new")));
            EXPECT_EQ(readFile(dir.path("existing")), "keep me");
        }
    }
}

TEST(Distribution, UnreadableInputIsReportedAndNoHistogramIsWritten) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("dir"));
    writeFile(dir.path("file"), "a;1\r\n");
    writeFile(dir.path("too big"), "a;1\r\nb;9223372036854775808\r\n");
    ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0600), 0);
    writeFile(dir.path("existing"), "keep me");
    for (const std::string& input : {dir.path("missing"), dir.path("dir"), dir.path("fifo"),
                                     dir.path("file/below"), dir.path("too big")}) {
        for (const std::string& output : {dir.path("new"), dir.path("existing")}) {
            ProgramRun run = distribution({"10", input, output});
            EXPECT_EQ(run.exitCode, 2) << input;
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err.rfind("distribution: " + input + ": ", 0), 0u) << run.err;
            EXPECT_FALSE(fileExists(dir.path("new")));
            EXPECT_EQ(readFile(dir.path("existing")), "keep me");
        }
    }
}

TEST(Distribution, UnwritableOutputIsReported) {
    TempDir dir;
    writeFile(dir.path("counts"), "a;1\r\n");
    writeFile(dir.path("too big"), "a;1\r\nb;9223372036854775808\r\n");
    std::filesystem::create_directory(dir.path("dir"));
    const struct {
        const char* what;
        std::string input, output;
    } rows[] = {
        {"a missing folder, found before the reading", dir.path("too big"), dir.path("missing/hist")},
        {"a folder", dir.path("counts"), dir.path("dir")},
        {"a full device", dir.path("counts"), "/dev/full"},
    };
    for (const auto& row : rows) {
        ProgramRun run = distribution({"10", row.input, row.output});
        EXPECT_EQ(run.exitCode, 2) << row.what;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("distribution: " + row.output + ": ", 0), 0u) << run.err;
    }
}

Buckets bucketed(const std::vector<std::int64_t>& counts, std::int64_t bucketSize) {
    Buckets buckets;
    for (std::int64_t count : counts) ++buckets[count / bucketSize];
    return buckets;
}

std::int64_t entries(const Buckets& buckets) {
    std::int64_t sum = 0;
    for (const auto& [index, number] : buckets) sum += number;
    return sum;
}

// Runs tallomer c N on the corpus, then distribution on its count file with
// each bucket size, and compares with the bucketing of `counts`.
void checkHistograms(const std::string& corpus, int n, const std::vector<std::int64_t>& counts) {
    TempDir dir;
    writeFile(dir.path("corpus"), corpus);
    ProgramRun counted =
        runProgram(TALLOMER_PROGRAM, {"c", std::to_string(n), dir.path("corpus"), dir.path("counts")});
    ASSERT_EQ(counted.exitCode, 0) << counted.err;
    for (std::int64_t bucketSize : {1, 3, -7, 1000}) {
        ProgramRun run = distribution({std::to_string(bucketSize), dir.path("counts"), dir.path("hist")});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        Buckets histogram = readHistogram(dir.path("hist"));
        EXPECT_EQ(entries(histogram), static_cast<std::int64_t>(counts.size())) << "N " << n;
        EXPECT_EQ(histogram, bucketed(counts, bucketSize)) << "N " << n << " bucket size " << bucketSize;
    }
}

// Without digits in the corpus no part of a text can pass for a count: the
// histogram is exactly that of tallomer's table.
TEST(Distribution, BucketsExactlyTheTableTallomerWrote) {
    const std::string corpus = randomBytes(";;\r\r\n\n \t+-abc\xE9\xFF\x80\x1A", 20'000, 6);
    for (int n : {1, 2, 3, 5, 8, 19}) {
        std::vector<std::int64_t> counts;
        for (const auto& [text, count] : everyWindow(corpus, n)) counts.push_back(count);
        checkHistograms(corpus, n, counts);
    }
}

// With digits, a text such as "x;12" LF "y" also yields the count 12 of its
// first line: the histogram holds every count the rule finds.
TEST(Distribution, BucketsWhatTheRuleFindsInTextsHoldingCounts) {
    const std::string corpus = randomBytes(";;\r\n\n 0123456789+-a\xE9", 20'000, 7);
    for (int n : {3, 5, 8, 19}) {
        auto table = everyWindow(corpus, n);
        std::vector<std::int64_t> counts = countsReadFor(table);
        ASSERT_GT(counts.size(), table.size()) << "the corpus should hold such texts for N " << n;
        checkHistograms(corpus, n, counts);
    }
}

// Positions beyond 2^31: a sparse file of more than 2 GiB whose last entry
// lies past that mark. Opt-in, as it needs about 3 GB of memory for a moment.
TEST(Distribution, ReadsAFileLargerThan2GiB) {
    if (!std::getenv("NGRAM_LARGE_TESTS")) GTEST_SKIP() << "set NGRAM_LARGE_TESTS=1 to run";
    TempDir dir;
    const std::string counts = dir.path("counts");
    writeSparseFile(counts, "b;3\r\n", (std::int64_t{1} << 31) + 100, "a;25\r\n");
    ProgramRun run = distribution({"10", counts, dir.path("hist")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readHistogram(dir.path("hist")), (Buckets{{0, 1}, {2, 1}}));
}

}  // namespace
