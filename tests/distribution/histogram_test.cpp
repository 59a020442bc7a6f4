#include "distribution/histogram.h"

#include <gtest/gtest.h>

#include <map>

#include "common/file_io.h"
#include "tests/support/run_program.h"

namespace {

using Buckets = std::map<std::int64_t, std::int64_t>;

Buckets bucketsOf(const std::string& countFile, std::int64_t bucketSize) {
    TempDir dir;
    writeFile(dir.path("counts.txt"), countFile);
    clearBucketCountTable();
    bucketCounts(dir.path("counts.txt"), bucketSize);
    Buckets buckets;
    forEachBucket([&](std::int64_t index, std::int64_t number) { buckets[index] += number; });
    return buckets;
}

TEST(BucketCounts, PutsEachEntryIntoCountDividedByTheBucketSize) {
    const std::string example = "a;1\r\nb;9\r\nc;10\r\nd;25\r\ne;10\r\n";
    struct Case {
        const char* what;
        std::string countFile;
        std::int64_t bucketSize;
        Buckets buckets;
    };
    const Case cases[] = {
        {"bucket size 10", example, 10, {{0, 2}, {1, 2}, {2, 1}}},
        {"the same with LF line ends", "a;1\nb;9\nc;10\nd;25\ne;10\n", 10, {{0, 2}, {1, 2}, {2, 1}}},
        {"bucket size 1", example, 1, {{1, 1}, {9, 1}, {10, 2}, {25, 1}}},
        {"bucket size -10", "a;10\r\nb;19\r\nc;25\r\nd;9\r\n", -10, {{-1, 2}, {-2, 1}, {0, 1}}},
        {"negative counts truncate toward zero",
         "a;-19\r\nb;-9\r\nc;-20\r\n",
         10,
         {{-1, 1}, {0, 1}, {-2, 1}}},
        {"empty file", "", 10, {}},
        {"one byte", ";", 10, {}},
        {"text holding ';' is bucketed by its count", "a;b;7\r\n", 1, {{7, 1}}},
        {"text ';' LF 'a' is one entry", ";\r\na;5\r\n", 1, {{5, 1}}},
        {"last line without line end", "a;3\r\nb;4", 1, {{3, 1}, {4, 1}}},
        {"counts above 2^31", "a;4294967296\r\nb;4294967297\r\n", 2, {{2147483648, 2}}},
        {"largest bucket size",
         "a;9223372036854775807\r\nb;-9223372036854775808\r\n",
         INT64_MAX,
         {{1, 1}, {-1, 1}}},
        {"smallest bucket size", "a;-9223372036854775808\r\nb;5\r\n", INT64_MIN, {{1, 1}, {0, 1}}},
    };
    for (const auto& c : cases) EXPECT_EQ(bucketsOf(c.countFile, c.bucketSize), c.buckets) << c.what;
}

TEST(BucketCounts, CountsOrBucketsBeyond64BitsAreRaised) {
    const std::tuple<std::string, std::int64_t, std::string> cases[] = {
        {"a;1\r\nb;9223372036854775808\r\n", 10, "line 2: the count does not fit in 64 bits"},
        {"a;-9223372036854775808\r\n", -1,
         "the count -9223372036854775808 divided by the bucket size -1 does not fit in 64 bits"},
    };
    for (const auto& [countFile, bucketSize, reason] : cases) {
        try {
            bucketsOf(countFile, bucketSize);
            ADD_FAILURE() << "no error for " << countFile;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path.substr(error.path.size() - 10), "counts.txt");
            EXPECT_EQ(error.what(), reason);
        }
    }
}

TEST(ParseBucketSize, AcceptsAnyNonZero64BitNumberInAtoiSyntax) {
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"10", 10},
        {"  +10x", 10},
        {"-10", -10},
        {"1", 1},
        {"0", std::nullopt},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"-0", std::nullopt},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
    };
    for (const auto& [text, size] : cases) EXPECT_EQ(parseBucketSize(text), size) << '"' << text << '"';
}

TEST(WriteHistogramFile, OneLinePerBucketWithCrLf) {
    TempDir dir;
    clearBucketCountTable();
    for (int i = 0; i < 3; ++i) countBucket(-4);
    writeHistogramFile(dir.path("one"));
    EXPECT_EQ(readFile(dir.path("one")), "-4;3\r\n");

    clearBucketCountTable();
    writeHistogramFile(dir.path("none"));
    EXPECT_TRUE(fileExists(dir.path("none")));
    EXPECT_EQ(readFile(dir.path("none")), "");

    countBucket(INT64_MIN);
    countBucket(INT64_MAX);
    writeHistogramFile(dir.path("extremes"));
    std::string bytes = readFile(dir.path("extremes"));
    EXPECT_TRUE(bytes == "-9223372036854775808;1\r\n9223372036854775807;1\r\n" ||
                bytes == "9223372036854775807;1\r\n-9223372036854775808;1\r\n")
        << bytes;
}

TEST(WriteHistogramFile, FailuresToCreateOrWriteAreRaised) {
    TempDir dir;
    clearBucketCountTable();
    countBucket(1);
    for (const std::string& path : {dir.path("missing/out"), std::string("/dev/full")}) {
        try {
            writeHistogramFile(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, path);
        }
    }
}

}  // namespace
