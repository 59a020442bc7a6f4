// tallomer-top run as a user runs it: the top entries of awkward count
// files on one CPU and on all, and what it refuses.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

ProgramRun top(const std::vector<std::string>& arguments) {
    return runProgram(TALLOMER_TOP_PROGRAM, arguments);
}

ProgramRun topOnOneCpu(const std::vector<std::string>& arguments) {
    return runProgramPrepared(TALLOMER_TOP_PROGRAM, arguments, [] {
        cpu_set_t first;
        CPU_ZERO(&first);
        CPU_SET(0, &first);
        sched_setaffinity(0, sizeof first, &first);
    });
}

// Every CPU cuts the file in as many pieces, inside entries of several
// lines too: the same bytes as one CPU, and those of a stable sort.
TEST(TallomerTop, WritesTheBestEntriesAsTheWriterDoesOnAnyNumberOfCpus) {
    TempDir dir;
    EntryList entries = awkwardEntries(20'000, 11);
    writeFile(dir.path("counts"), writtenEntries(entries));
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    for (std::size_t k : {1, 100, 25'000}) {
        EntryList best(entries.begin(),
                       entries.begin() + static_cast<std::ptrdiff_t>(std::min(k, entries.size())));
        ProgramRun all = top({std::to_string(k), dir.path("counts")});
        ProgramRun one = topOnOneCpu({std::to_string(k), dir.path("counts")});
        EXPECT_EQ(all.exitCode, 0) << all.err;
        EXPECT_EQ(all.err, "");
        EXPECT_TRUE(all.out == writtenEntries(best)) << "K " << k;
        EXPECT_TRUE(one.out == all.out) << "K " << k;
    }
}

TEST(TallomerTop, RefusesWhatItCannotAnswer) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("dir"));
    writeFile(dir.path("counts"), "a;1\r\nb;2\r\n");
    const std::string usage = "Wrong Arguments.\nUsage:\ntallomer-top [K] [count file]\n";
    const std::string badK = " must be a whole number from 1 to 9223372036854775807\n";
    struct Case {
        const char* what;
        std::optional<std::string> bytes;  // of the file `input`
        std::vector<std::string> arguments;
        int exitCode;
        std::string out, err;  // err: its start, after "tallomer-top: "
    };
    const std::string input = dir.path("input");
    const Case cases[] = {
        {"an empty file: a count file of no entries", "", {"5", input}, 0, "", ""},
        {"missing file", {}, {"5", dir.path("missing")}, 2, "", dir.path("missing") + ": No such file"},
        {"a directory", {}, {"5", dir.path("dir")}, 2, "", dir.path("dir") + ": is a directory"},
        {"not a count file",
         "one line\nand another\n",
         {"5", input},
         2,
         "",
         input + ": its last line holds no count"},
        {"binary bytes",
         std::string("\x7F"
                     "ELF\0\0\x01",
                     7),
         {"5", input},
         2,
         "",
         input + ": does not end with a line end"},
        {"last line cut short", "a;1\r\nb;12", {"5", input}, 2, "", input + ": does not end with a line end"},
        {"a count beyond 64 bits",
         "a;1\r\nb;9223372036854775808\r\n",
         {"1", input},
         2,
         "",
         input + ": the line at byte 5: the count does not fit in 64 bits"},
        {"K of 0", {}, {"0", dir.path("counts")}, 1, "", "K \"0\"" + badK},
        {"K not a number", {}, {"ten", dir.path("counts")}, 1, "", "K \"ten\"" + badK},
        {"K negative", {}, {"-3", dir.path("counts")}, 1, "", "K \"-3\"" + badK},
        {"K beyond 64 bits",
         {},
         {"9223372036854775808", dir.path("counts")},
         1,
         "",
         "K \"9223372036854775808\"" + badK},
        {"no count file", {}, {"5"}, 1, usage, ""},
        {"one argument too many", {}, {"5", dir.path("counts"), "x"}, 1, usage, ""},
    };
    for (const Case& c : cases) {
        if (c.bytes) writeFile(input, *c.bytes);
        ProgramRun run = top(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what;
        EXPECT_EQ(run.out, c.out) << c.what;
        if (c.err.empty()) {
            EXPECT_EQ(run.err, "") << c.what;
        } else {
            EXPECT_EQ(run.err.rfind("tallomer-top: " + c.err, 0), 0u) << c.what << ": " << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
    }
}

}  // namespace
