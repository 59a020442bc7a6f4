// The list forms a workflow runs once for many inputs or parts: every
// answer and every part exactly what the one-input forms give, and a
// failure that names the input and leaves the parts before it complete.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tests/input/compressed.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

std::string resolved(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    std::string result = real ? real : path;
    std::free(real);
    return result;
}

// What the list query answers of a file: its answer, size, modification
// time as `stat -c %.9Y` writes it, device:inode and resolved path.
std::string answerFor(const std::string& answer, const std::string& listed) {
    const std::string path = resolved(listed);
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    char time[48];
    std::snprintf(time, sizeof time, "%lld.%09ld", static_cast<long long>(status.st_mtim.tv_sec),
                  status.st_mtim.tv_nsec);
    return answer + " " + std::to_string(status.st_size) + " " + time + " " + std::to_string(status.st_dev) +
           ":" + std::to_string(status.st_ino) + " " + path + "\n";
}

TEST(TallomerPartLists, AnswersEveryListedInputInOrder) {
    TempDir dir;
    const std::string plain = dir.path("a plain\tone.txt"), gzip = dir.path("in.gz"),
                      empty = dir.path("empty");
    writeFile(plain, randomBytes("ab c", 3'000, 1));
    writeFile(gzip, compressed(Compression::Gzip, "some data"));
    writeFile(empty, "");
    ASSERT_EQ(::symlink(plain.c_str(), dir.path("link").c_str()), 0);
    // CR LF line ends, a blank line, a link and one file twice.
    writeFile(dir.path("list"),
              plain + "\r\n\r\n" + gzip + "\r\n" + dir.path("link") + "\n" + empty + "\n" + plain);
    const std::string expected = answerFor("1", plain) + answerFor("whole", gzip) + answerFor("1", plain) +
                                 answerFor("1", empty) + answerFor("1", plain);
    for (const char* list : {"@-", "@LIST"}) {
        std::string argument = list == std::string("@-") ? list : std::string("@") + dir.path("list");
        ProgramRun asked = runProgram(TALLOMER_PART_PROGRAM, {"c", "5", argument}, dir.path("list"));
        EXPECT_EQ(asked.exitCode, 0) << asked.err;
        EXPECT_EQ(asked.out, expected) << list;
        EXPECT_EQ(asked.err, "");
    }
    ProgramRun words = runProgram(TALLOMER_PART_PROGRAM, {"w", "2", "@-"}, dir.path("list"));
    EXPECT_EQ(words.out.substr(0, 10), "100000000 ");
}

// The answers before the input that fails, then its failure, named as
// listed until it is resolved; an empty list has no answer.
TEST(TallomerPartLists, StopsAtTheFirstInputThatFails) {
    TempDir dir;
    const std::string plain = dir.path("plain");
    writeFile(plain, "abc");
    writeFile(dir.path("lying.gz"), "not gzip");
    ASSERT_EQ(::mkfifo(dir.path("fifo").c_str(), 0600), 0);
    const std::string said = "tallomer-part: ";
    const struct {
        std::string listed, mode;
        int exitCode;
        std::string out, err;  // the start of standard error
    } cases[] = {
        {plain + "\n" + dir.path("missing") + "\n" + plain, "c", 2, answerFor("1", plain),
         said + dir.path("missing") + ": No such file"},
        {dir.path("lying.gz"), "c", 2, "", said + resolved(dir.path("lying.gz")) + ": its name says gzip"},
        {dir.path("fifo"), "c", 2, "", said + resolved(dir.path("fifo")) + ": not a regular file"},
        {dir.path(""), "c", 2, "", said + resolved(dir.path("")) + ": is a directory"},
        {"\r\n\n", "c", 0, "", ""},
        {plain, "x", 1, "", "tallomer-part: mode \"x\""},
    };
    for (const auto& c : cases) {
        writeFile(dir.path("list"), c.listed);
        ProgramRun asked =
            runProgram(TALLOMER_PART_PROGRAM, {c.mode, "3", std::string("@") + dir.path("list")});
        EXPECT_EQ(asked.exitCode, c.exitCode) << c.listed;
        EXPECT_EQ(asked.out, c.out) << c.listed;
        EXPECT_EQ(asked.err.rfind(c.err, 0), 0u) << asked.err;
        EXPECT_EQ(asked.err.empty(), c.err.empty()) << asked.err;
    }
    ProgramRun noList = runProgram(TALLOMER_PART_PROGRAM, {"c", "3", std::string("@") + dir.path("none")});
    EXPECT_EQ(noList.exitCode, 2);
    EXPECT_EQ(noList.err.rfind(said + dir.path("none") + ": ", 0), 0u) << noList.err;
}

// Each listed part is the part file a run of its own writes, byte for
// byte, with the same console line.
TEST(TallomerPartLists, CountsListedPartsAsSeparateRunsDo) {
    TempDir dir;
    const std::string input = dir.path("in put.txt"), gzip = dir.path("in.gz");
    writeFile(input, randomBytes(std::string("ab c,\xE9\n\0", 8), 5'000, 2));
    writeFile(gzip, compressed(Compression::Gzip, randomBytes("xy z", 2'000, 3)));
    ASSERT_EQ(::mkdir(dir.path("listed").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(dir.path("alone").c_str(), 0700), 0);
    const std::vector<std::vector<std::string>> parts = {
        {"a.part", "0", "2500", input}, {"b.part", "2500", "end", input}, {"c.part", "0", "end", gzip}};
    std::string list, console;
    for (const auto& part : parts) {
        list += part[0] + " " + part[1] + " " + part[2] + " " + part[3] + "\r\n";
        ProgramRun alone = runProgram(TALLOMER_PART_PROGRAM,
                                      {"c", "4", part[3], part[1], part[2], dir.path("alone/" + part[0])});
        ASSERT_EQ(alone.exitCode, 0) << alone.err;
        console += alone.out;
    }
    writeFile(dir.path("list"), list);
    ProgramRun listed = runProgram(TALLOMER_PART_PROGRAM,
                                   {"c", "4", std::string("@") + dir.path("list"), dir.path("listed")});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    for (const auto& part : parts)
        EXPECT_TRUE(readFile(dir.path("listed/" + part[0])) == readFile(dir.path("alone/" + part[0])))
            << part[0];
    std::string expected = console;
    for (std::size_t at; (at = expected.find(dir.path("alone/"))) != std::string::npos;)
        expected.replace(at, dir.path("alone/").size(), dir.path("listed/"));
    EXPECT_EQ(listed.out, expected);
}

// A line that is no part is refused before anything is counted; a part that
// fails stops the run, the parts before it in place.
TEST(TallomerPartLists, ListedPartFailures) {
    TempDir dir;
    const std::string input = dir.path("input"), list = dir.path("list"), missing = dir.path("missing");
    writeFile(input, "abcdefgh");
    const std::string refused = "tallomer-part: " + list + ": line 2: ", failed = "tallomer-part: ";
    const struct {
        std::string secondLine;
        std::string err;
        bool firstCounted;
    } cases[] = {
        {"b.part 0 end", refused + "not PART FROM TO INPUT", false},
        {"sub/b.part 0 end " + input, refused + "the part \"sub/b.part\"", false},
        {"b.part 1e3 end " + input, refused + "the range \"1e3\"", false},
        {"b.part 0 end " + missing, failed + missing + ": ", true},
        {"b.part 0 9 " + input, failed + input + ": the range's end 9 is past", true},
    };
    for (const auto& c : cases) {
        std::remove(dir.path("a.part").c_str());
        writeFile(list, "a.part 0 end " + input + "\n" + c.secondLine + "\nc.part 0 end " + input);
        ProgramRun run = runProgram(TALLOMER_PART_PROGRAM, {"c", "2", "@" + list, dir.path("")});
        EXPECT_EQ(run.exitCode, 2) << c.secondLine;
        EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
        EXPECT_EQ(fileExists(dir.path("a.part")), c.firstCounted) << c.secondLine;
        EXPECT_FALSE(fileExists(dir.path("b.part")) || fileExists(dir.path("c.part"))) << c.secondLine;
    }
    EXPECT_EQ(runProgram(TALLOMER_PART_PROGRAM, {"c", "2", "@" + list, ""}).exitCode, 1);
}

}  // namespace
