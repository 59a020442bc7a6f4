#include "entropy/entropy_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "common/file_io.h"
#include "tests/support/run_program.h"

namespace {

// A count file with these bytes, for as long as the object lives.
struct CountFile {
    explicit CountFile(const std::string& bytes) { writeFile(path, bytes); }
    TempDir dir;
    std::string path = dir.path("counts.txt");
};

std::string reportOf(const std::string& bytes) {
    CountFile file(bytes);
    std::ostringstream console;
    reportEntropy(file.path, console);
    return console.str();
}

double sumOf(const std::string& bytes, std::int64_t distinct, std::int64_t total) {
    CountFile file(bytes);
    return sumPLog2P(file.path, EntryTotals{distinct, total});
}

std::string report(const char* distinct, const char* total, const char* sum) {
    return std::string("Number of different NGrams: ") + distinct + "\nTotal number of NGrams: " + total +
           "\nSum: " + sum + "\n";
}

TEST(EntropyReport, ThreeFiguresOfACountFile) {
    struct Case {
        const char* what;
        std::string countFile;
        std::string expected;
    };
    const Case cases[] = {
        {"1, 1, 2 with LF", "a;1\nb;1\nc;2\n", report("3", "4", "-1.5")},
        {"1, 1, 2 with CR LF", "a;1\r\nb;1\r\nc;2\r\n", report("3", "4", "-1.5")},
        {"one line", "a;5\r\n", report("1", "5", "0")},
        {"1 and 1", "a;1\r\nb;1\r\n", report("2", "2", "-1")},
        {"1 and 2", "a;1\r\nb;2\r\n", report("2", "3", "-0.918296")},
        {"1 to 4", "a;1\r\nb;2\r\nc;3\r\nd;4\r\n", report("4", "10", "-1.84644")},
        {"10 to 40", "a;10\r\nb;20\r\nc;30\r\nd;40\r\n", report("4", "100", "-1.84644")},
        {"empty file", "", report("0", "0", "0")},
        {"one byte", ";", report("0", "0", "0")},
        {"a line without ';' changes nothing", "a;1\r\nno separator\r\nb;2\r\n",
         report("2", "3", "-0.918296")},
        {"text holding ';'", "a;b;7\r\nc;7\r\n", report("2", "14", "-1")},
        {"text holding ';' and digits", "x;12;5\r\ny;5\r\n", report("2", "10", "-1")},
        {"text ';' LF 'a' is one entry", ";\r\na;5\r\n", report("1", "5", "0")},
        {"last line without line end", "a;1\r\nb;2", report("2", "3", "-0.918296")},
        {"leading blanks and a plus sign", "a;  1\r\nb;+2\r\n", report("2", "3", "-0.918296")},
        {"counts above 2^31", "a;3000000000\r\nb;1000000000\r\n", report("2", "4000000000", "-0.811278")},
        {"counts above 2^32", "a;6442450944\r\nb;2147483648\r\n", report("2", "8589934592", "-0.811278")},
        {"exponent notation", "a;1\r\nb;99999999\r\n", report("2", "100000000", "-2.80181e-07")},
    };
    for (const auto& c : cases) EXPECT_EQ(reportOf(c.countFile), c.expected) << c.what;
}

TEST(EntropyReport, ZeroOrNegativeCountsGiveNaN) {
    const std::pair<std::string, std::string> cases[] = {
        {"a;-4\r\nb;5\r\n", "Number of different NGrams: 2\nTotal number of NGrams: 1\n"},
        {"a;0\r\nb;5\r\n", "Number of different NGrams: 2\nTotal number of NGrams: 5\n"},
        {"a;0\r\nb;0\r\n", "Number of different NGrams: 2\nTotal number of NGrams: 0\n"},
    };
    for (const auto& [countFile, totals] : cases) {
        std::string text = reportOf(countFile);
        EXPECT_EQ(text.rfind(totals + "Sum: ", 0), 0u) << text;
        EXPECT_NE(text.find("nan\n"), std::string::npos) << text;
    }
}

TEST(EntropyReport, SumsInFileOrderWithTheTotalMadeADoubleOnce) {
    // 1, 1, 2 sums to -1.5 exactly; four equal counts to exactly -2.
    EXPECT_EQ(sumOf("a;1\nb;1\nc;2\n", 3, 4), -1.5);
    EXPECT_EQ(sumOf("a;3\nb;3\nc;3\nd;3\n", 4, 12), -2.0);
    EXPECT_EQ(sumOf("", 0, 0), 0.0);
    // The order of the additions shows in the last bits: the file order counts.
    double forward = 0.0, backward = 0.0;
    const double counts[] = {1, 10, 100, 1000, 10000, 7};
    for (double count : counts) forward += std::log2(count / 11118) * (count / 11118);
    for (int i = 5; i >= 0; --i) backward += std::log2(counts[i] / 11118) * (counts[i] / 11118);
    ASSERT_NE(forward, backward);
    EXPECT_EQ(sumOf("a;1\nb;10\nc;100\nd;1000\ne;10000\nf;7\n", 6, 11118), forward);
}

TEST(EntropyReport, AFileThatChangedBetweenItsTwoReadingsIsRaised) {
    const std::tuple<const char*, std::int64_t, std::int64_t> cases[] = {
        {"a;1\nb;1\n", 3, 2}, {"a;1\nb;1\n", 2, 3}, {"a;1\nb;1\n", 1, 2}};
    for (const auto& [bytes, distinct, total] : cases) {
        try {
            sumOf(bytes, distinct, total);
            ADD_FAILURE() << "no error for " << distinct << " " << total;
        } catch (const IoError& error) {
            EXPECT_STREQ(error.what(), "the file changed while being read");
        }
    }
}

TEST(EntropyReport, CountOrTotalBeyond64BitsIsRaisedBeforeAnythingIsPrinted) {
    const std::pair<std::string, std::string> cases[] = {
        {"a;1\r\nb;9223372036854775808\r\n", "line 2: the count does not fit in 64 bits"},
        {"a;9223372036854775807\r\nb;1\r\n", "the total of the counts does not fit in 64 bits"},
        {"a;-9223372036854775808\r\nb;-1\r\n", "the total of the counts does not fit in 64 bits"},
    };
    for (const auto& [bytes, reason] : cases) {
        CountFile file(bytes);
        std::ostringstream console;
        try {
            reportEntropy(file.path, console);
            ADD_FAILURE() << "no error for " << bytes;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, file.path);
            EXPECT_EQ(error.what(), reason);
        }
        EXPECT_EQ(console.str(), "");
    }
}

}  // namespace
