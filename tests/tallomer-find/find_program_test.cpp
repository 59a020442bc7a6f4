// tallomer-find run as a user runs it: n-grams given as arguments and on
// standard input, and what it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

ProgramRun find(const std::vector<std::string>& arguments, const std::string& stdinPath = "/dev/null") {
    return runProgram(TALLOMER_FIND_PROGRAM, arguments, stdinPath);
}

// Texts with LF, CR, ';', high bytes, the empty text and absent ones, in
// the order asked, as arguments and as lines of standard input.
TEST(TallomerFind, WritesTheCountOfEachNgramInTheOrderAsked) {
    TempDir dir;
    EntryList entries = awkwardEntries(20'000, 12);
    writeFile(dir.path("counts"), writtenEntries(entries));
    EntryList asked;
    for (std::size_t i = 0; i < entries.size(); i += 97) asked.push_back(entries[entries.size() - 1 - i]);
    asked.emplace_back("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 0);
    asked.emplace_back(entries[5].first + "\x01", 0);
    asked.push_back(entries[0]);
    ASSERT_TRUE(std::any_of(asked.begin(), asked.end(),
                            [](const auto& e) { return e.first.find('\n') != std::string::npos; }));

    std::vector<std::string> arguments{dir.path("counts")};
    for (const auto& [text, count] : asked) arguments.push_back(text);
    ProgramRun run = find(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.out == writtenEntries(asked));

    // On standard input one a line: texts without LF (the empty one too),
    // the last line without one; "-" stands among the arguments where it is.
    EntryList lines{{"\x01", 0}};
    std::string input;
    for (const auto& [text, count] : asked) {
        if (text.find('\n') != std::string::npos) continue;
        lines.emplace_back(text, count);
        input += text + "\n";
    }
    lines.emplace_back("\x01\x02", 0);
    input += "\x01\x02";
    lines.emplace_back(entries[1]);
    writeFile(dir.path("asked"), input);
    run = find({dir.path("counts"), "\x01", "-", entries[1].first}, dir.path("asked"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out == writtenEntries(lines));
}

TEST(TallomerFind, RefusesWhatItCannotAnswer) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("dir"));
    const std::string usage =
        "Wrong Arguments.\nUsage:\ntallomer-find [count file] [n-gram, or - for one a line on standard "
        "input]...\n";
    struct Case {
        const char* what;
        std::optional<std::string> bytes;  // of the file `input`
        std::vector<std::string> arguments;
        int exitCode;
        std::string out, err;  // err: its start, after "tallomer-find: "
    };
    const std::string input = dir.path("input");
    const Case cases[] = {
        {"an empty file: a count file of no entries", "", {input, "a", "b"}, 0, "a;0\r\nb;0\r\n", ""},
        {"missing file", {}, {dir.path("missing"), "a"}, 2, "", dir.path("missing") + ": No such file"},
        {"a directory", {}, {dir.path("dir"), "a"}, 2, "", dir.path("dir") + ": is a directory"},
        {"not a count file",
         "one line\nand another\n",
         {input, "a"},
         2,
         "",
         input + ": its last line holds no count"},
        {"last line cut short", "a;1\r\nb;12", {input, "a"}, 2, "", input + ": does not end with a line end"},
        {"a count beyond 64 bits",
         "a;1\r\nb;9223372036854775808\r\n",
         {input, "b"},
         2,
         "",
         input + ": the line at byte 5: the count does not fit in 64 bits"},
        {"not in order",
         "a;1\r\nc;2\r\nb;3\r\n",
         {input, "a", "b"},
         2,
         "",
         input + ": not in order: the text of the entry at byte 5 is not below that of the entry at byte 10"},
        {"a text twice", "a;1\r\na;2\r\n", {input, "a"}, 2, "", input + ": not in order: "},
        {"no n-gram", {}, {input}, 1, usage, ""},
        {"no argument", {}, {}, 1, usage, ""},
    };
    for (const Case& c : cases) {
        if (c.bytes) writeFile(input, *c.bytes);
        ProgramRun run = find(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what;
        EXPECT_EQ(run.out, c.out) << c.what;
        if (c.err.empty()) {
            EXPECT_EQ(run.err, "") << c.what;
        } else {
            EXPECT_EQ(run.err.rfind("tallomer-find: " + c.err, 0), 0u) << c.what << ": " << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
    }
}

}  // namespace
