// tallomer-merge run as a user runs it, on parts written here: ranges that
// concatenate to the whole count file, refusals that name the part and
// leave the output alone, merges in groups under a low open-file limit, and
// the texts below --min-count left out.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "formats/part_file.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

const std::string Alphabet("ab c\0\n\r;\xE9\xFF\x80", 11);

// "@PATH", the argument that stands for the paths a file lists.
std::string listed(const std::string& path) {
    std::string argument = "@";
    return argument.append(path);
}

ProgramRun merge(const std::vector<std::string>& arguments) {
    return runProgram(TALLOMER_MERGE_PROGRAM, arguments);
}

// The counts of the windows of n bytes that start in [from, to).
Counts windowsFrom(const std::string& input, int n, std::int64_t from, std::int64_t to) {
    return everyWindow(
        input.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from + n - 1)), n,
        static_cast<std::size_t>(to - from));
}

void writePart(const std::string& path, const PartHeader& header, const Counts& counts) {
    PartWriter writer(path, header);
    for (const auto& [text, count] : counts) writer.add(text, count);
    writer.commit();
}

// The input cut at `cuts` into parts, in dir as part0, part1, ...; their
// paths.
std::vector<std::string> writeParts(const TempDir& dir, const std::string& input, int n,
                                    const std::vector<std::int64_t>& cuts, const std::string& name = "part",
                                    std::uint64_t fingerprint = 1) {
    std::vector<std::string> paths;
    std::int64_t size = static_cast<std::int64_t>(input.size()), from = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        std::int64_t to = i < cuts.size() ? cuts[i] : size;
        paths.push_back(dir.path(name + std::to_string(i)));
        writePart(paths.back(), PartHeader{'c', n, {size, 0, fingerprint}, from, to, name},
                  windowsFrom(input, n, from, to));
        from = to;
    }
    return paths;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(TallomerMerge, RangesConcatenatedAreTheWholeCountFile) {
    TempDir dir;
    std::string input = randomBytes(Alphabet, 30'000, 3);
    std::vector<std::string> parts = writeParts(dir, input, 5, {7'001, 19'999});
    std::string expected = countFileOf(everyWindow(input, 5));
    ProgramRun whole = merge(concat({"1/1", dir.path("whole")}, parts));
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(whole.err, "");
    EXPECT_EQ(whole.out, dir.path("whole") + ": " + std::to_string(everyWindow(input, 5).size()) +
                             " distinct n-grams, 29996 in all, range 1/1\n");
    EXPECT_TRUE(readFile(dir.path("whole")) == expected);
    for (int ranges : {2, 5}) {
        std::string joined;
        int empty = 0;
        for (int k = 1; k <= ranges; ++k) {
            std::string range = std::to_string(k) + "/" + std::to_string(ranges);
            ProgramRun run = merge(concat({range, dir.path("range")}, parts));
            ASSERT_EQ(run.exitCode, 0) << range << ": " << run.err;
            std::string bytes = readFile(dir.path("range"));
            empty += bytes.empty();
            joined += bytes;
        }
        EXPECT_TRUE(joined == expected) << ranges << " ranges";
        // Three parts of one block each: three indexed texts.
        if (ranges == 5) {
            EXPECT_GT(empty, 0) << "more ranges than indexed texts leave some empty";
        }
    }
}

// The texts whose count summed over all parts is below --min-count are left
// out (a text below it in every part may be above it in all), the same
// bytes whole or in ranges, on one CPU or all.
TEST(TallomerMerge, MinCountLeavesOutTheTextsBelowItInAllPartsTogether) {
    TempDir dir;
    std::string input = randomBytes(Alphabet, 30'000, 8);
    std::vector<std::string> parts = writeParts(dir, input, 4, {6'000, 6'001, 13'000, 21'000});
    const Counts all = everyWindow(input, 4);
    struct Case {
        const char* what;
        std::string option;
        std::int64_t least;
    } const cases[] = {
        {"1 keeps all", "1", 1},
        {"2", "2", 2},
        {"leading zeros", "003", 3},
        {"above every count", "9223372036854775807", LLONG_MAX},
    };
    for (const Case& c : cases) {
        Counts kept;
        std::int64_t leftOut = 0, leftOutTotal = 0, total = 0;
        for (const auto& [text, n] : all) {
            if (n >= c.least) {
                kept[text] = n;
                total += n;
            } else {
                ++leftOut;
                leftOutTotal += n;
            }
        }
        const std::string option = "--min-count=" + c.option, out = dir.path("out");
        for (bool oneCpu : {true, false}) {
            ProgramRun run =
                runProgramPrepared(TALLOMER_MERGE_PROGRAM, concat({option, "1/1", out}, parts), [&] {
                    cpu_set_t first;
                    CPU_ZERO(&first);
                    CPU_SET(0, &first);
                    if (oneCpu) sched_setaffinity(0, sizeof first, &first);
                });
            ASSERT_EQ(run.exitCode, 0) << c.what << ": " << run.err;
            EXPECT_EQ(run.out, out + ": " + std::to_string(kept.size()) + " distinct n-grams, " +
                                   std::to_string(total) + " in all, range 1/1, left out below " +
                                   std::to_string(c.least) + ": " + std::to_string(leftOut) +
                                   " distinct n-grams, " + std::to_string(leftOutTotal) + " in all\n")
                << c.what;
            EXPECT_TRUE(readFile(out) == countFileOf(kept)) << c.what << (oneCpu ? ", one CPU" : "");
        }
        std::string joined;
        for (int k = 1; k <= 3; ++k) {
            ProgramRun run = merge(concat({option, std::to_string(k) + "/3", out}, parts));
            ASSERT_EQ(run.exitCode, 0) << c.what << ": " << run.err;
            joined += readFile(out);
        }
        EXPECT_TRUE(joined == countFileOf(kept)) << c.what << ", 3 ranges";
    }
}

TEST(TallomerMerge, RefusalsNameThePartAndLeaveTheOutputAlone) {
    TempDir dir;
    std::string input = randomBytes(Alphabet, 2'000, 4);
    std::vector<std::string> parts = writeParts(dir, input, 3, {1'000});
    std::string whole = dir.path("whole");
    writePart(whole, PartHeader{'c', 3, {2'000, 0, 1}, 0, 2'000, "part"}, everyWindow(input, 3));
    std::string other = dir.path("other");  // another version of the input
    writePart(other, PartHeader{'c', 3, {2'000, 0, 2}, 0, 2'000, "part"}, everyWindow(input, 3));
    std::string fourGrams = dir.path("fourGrams");
    writePart(fourGrams, PartHeader{'c', 4, {50, 0, 3}, 0, 50, "four"}, {{"abcd", 1}});
    std::string words = dir.path("words");
    writePart(words, PartHeader{'w', 3, {50, 0, 6}, 0, 50, "words"}, {{"a b c", 1}});
    std::string big = dir.path("big");  // a second input whose count sums past 64 bits
    writePart(big, PartHeader{'c', 3, {10, 0, 4}, 0, 10, "big"}, {{"aaa", LLONG_MAX}});
    std::string bigToo = dir.path("bigToo");
    writePart(bigToo, PartHeader{'c', 3, {10, 0, 5}, 0, 10, "bigToo"}, {{"aaa", 1}});
    std::string truncated = dir.path("truncated");
    writeFile(truncated, readFile(parts[1]).substr(0, readFile(parts[1]).size() - 3));
    std::string damaged = dir.path("damaged");
    std::string bytes = readFile(parts[1]);
    bytes[bytes.size() / 3] ^= 0x10;
    writeFile(damaged, bytes);
    std::string appended = dir.path("appended");
    writeFile(appended, readFile(parts[1]) + "\r\n\r\n");
    std::string fifo = dir.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char* what;
        std::vector<std::string> parts;
        std::string named, reason;
    } const cases[] = {
        {"a gap", {parts[0]}, parts[0], "bytes 1000-2000 of part are in no part"},
        {"an overlap", {parts[0], whole}, whole, "bytes 0-1000 of part are also in"},
        {"a part given twice", {parts[0], parts[1], parts[1]}, parts[1], "given twice"},
        {"another version of the input", {whole, other}, other, "parts of different versions of part"},
        {"another N", {whole, fourGrams}, fourGrams, "counts character 4-grams"},
        {"another mode", {whole, words}, words, "counts word 3-grams"},
        {"a truncated part", {parts[0], truncated}, truncated, "truncated part file"},
        {"a damaged part", {parts[0], damaged}, damaged, "damaged part file (checksum)"},
        {"a part with bytes appended",
         {parts[0], appended},
         appended,
         "damaged part file (4 bytes after its end)"},
        {"a count past 64 bits", {big, bigToo}, dir.path("out"), "a text's counts add up to more than"},
        {"a missing part", {parts[0], dir.path("missing")}, dir.path("missing"), "No such file or directory"},
        {"a FIFO", {parts[0], fifo}, fifo, "not a regular file"},
    };
    for (const Case& c : cases) {
        writeFile(dir.path("out"), "old");
        // A merge that waits for a FIFO's writer fails here instead of
        // hanging the test.
        ProgramRun run = runProgramPrepared(TALLOMER_MERGE_PROGRAM, concat({"1/1", dir.path("out")}, c.parts),
                                            [] { alarm(60); });
        EXPECT_EQ(run.exitCode, 2) << c.what;
        EXPECT_EQ(run.out, "") << c.what;
        EXPECT_EQ(run.err.rfind("tallomer-merge: " + c.named + ": " + c.reason, 0), 0u)
            << c.what << ": " << run.err;
        EXPECT_EQ(readFile(dir.path("out")), "old") << c.what;
    }
}

// A part is hours of a task: an output that is one, by any spelling or link,
// is refused and the part kept.
TEST(TallomerMerge, AnOutputThatIsAPartIsRefused) {
    TempDir dir;
    std::vector<std::string> parts = writeParts(dir, randomBytes(Alphabet, 2'000, 6), 3, {1'000});
    const std::string bytes = readFile(parts[1]);
    ASSERT_EQ(link(parts[1].c_str(), dir.path("hard").c_str()), 0);
    ASSERT_EQ(symlink(parts[1].c_str(), dir.path("soft").c_str()), 0);
    for (const std::string& output : {parts[1], dir.path("./part1"), dir.path("hard"), dir.path("soft")}) {
        ProgramRun run = merge({"1/1", output, parts[0], parts[1]});
        EXPECT_EQ(run.exitCode, 2) << output;
        EXPECT_EQ(run.err, "tallomer-merge: " + output + ": is the part " + parts[1] +
                               ", which the merge would replace\n");
        EXPECT_TRUE(readFile(parts[1]) == bytes) << output;
    }
}

TEST(TallomerMerge, BadCommandLinesAreExitCodeOne) {
    TempDir dir;
    writeFile(dir.path("empty"), "\n\n");
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        bool usage;
    } const cases[] = {
        {"no part", {"1/1", dir.path("out")}, true},
        {"a bad range", {"3/2", dir.path("out"), dir.path("p")}, false},
        {"a list of no part", {"1/1", dir.path("out"), listed(dir.path("empty"))}, false},
        {"options and no part", {"--min-count=2", "1/1", dir.path("out")}, true},
        {"an unknown option", {"--max-count=2", "1/1", dir.path("out"), dir.path("p")}, false},
        {"--min-count without =", {"--min-count", "2", "1/1", dir.path("out"), dir.path("p")}, false},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    for (const char* count : {"0", "-1", "", "x", "2x", "1e3", " 2", "+2", "9223372036854775808"})
        all.push_back(
            {count, {std::string("--min-count=") + count, "1/1", dir.path("out"), dir.path("p")}, false});
    for (const Case& c : all) {
        ProgramRun run = merge(c.arguments);
        EXPECT_EQ(run.exitCode, 1) << c.what;
        EXPECT_EQ(run.out, c.usage
                               ? "Wrong Arguments.\nUsage:\ntallomer-merge [--min-count=C] [k/K key range] "
                                 "[output file] [part file or @list file]...\n"
                               : "")
            << c.what;
        EXPECT_EQ(run.err.empty(), c.usage) << c.what << ": " << run.err;
        EXPECT_FALSE(fileExists(dir.path("out"))) << c.what;
    }
}

// A list written on Windows names the same parts; a control byte left in
// a path is shown escaped, not acted on by the terminal.
TEST(TallomerMerge, PartListsTakeCrLfLineEndsAndMessagesEscapeControlBytes) {
    TempDir dir;
    std::string input = randomBytes(Alphabet, 3'000, 7);
    std::vector<std::string> parts = writeParts(dir, input, 3, {1'000, 2'000});
    const std::string expected = countFileOf(everyWindow(input, 3)), missing = dir.path("mis\tsing\rpart");
    const std::string copy = dir.path("copy\x01");
    writeFile(copy, readFile(parts[0]));
    struct Case {
        const char* what;
        std::string list, err;
    } const cases[] = {
        {"CR LF and a blank line", parts[0] + "\r\n\r\n" + parts[1] + "\r\n" + parts[2] + "\r\n", ""},
        {"a CR at the end without LF", parts[0] + "\n" + parts[1] + "\n" + parts[2] + "\r", ""},
        {"a path with control bytes", parts[0] + "\r\n" + missing + "\r\n",
         "tallomer-merge: $'" + dir.path("mis\\tsing\\rpart") + "': No such file or directory\n"},
        {"a path with control bytes in the reason",
         copy + "\n" + parts[0] + "\n" + parts[1] + "\n" + parts[2],
         "tallomer-merge: " + parts[0] + ": the same part as $'" + dir.path("copy\\x01") + "'\n"},
    };
    for (const Case& c : cases) {
        writeFile(dir.path("list"), c.list);
        ProgramRun run = merge({"1/1", dir.path("out"), listed(dir.path("list"))});
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_EQ(run.exitCode, c.err.empty() ? 0 : 2) << c.what;
        if (c.err.empty()) {
            EXPECT_TRUE(readFile(dir.path("out")) == expected) << c.what;
        }
    }
}

TEST(TallomerMerge, ManyPartsUnderALowOpenFileLimitGiveTheSameBytes) {
    TempDir dir, temporary;
    std::string input = randomBytes(Alphabet, 20'000, 5), list;
    std::vector<std::int64_t> cuts;
    for (std::int64_t cut = 500; cut < 20'000; cut += 500) cuts.push_back(cut);
    for (const std::string& path : writeParts(dir, input, 4, cuts)) list += path + "\n";
    writeFile(dir.path("list"), list);
    std::vector<std::string> arguments = {"2/3", dir.path("out"), listed(dir.path("list"))};
    ASSERT_EQ(merge(arguments).exitCode, 0);
    std::string expected = readFile(dir.path("out"));
    ProgramRun few = runProgramPrepared(TALLOMER_MERGE_PROGRAM, arguments, [&] {
        rlimit files{32, 32};
        setrlimit(RLIMIT_NOFILE, &files);
        setenv("TMPDIR", temporary.path("").c_str(), 1);
    });
    ASSERT_EQ(few.exitCode, 0) << few.err;
    EXPECT_TRUE(readFile(dir.path("out")) == expected);
    EXPECT_EQ(filesIn(temporary.path("")), std::vector<std::string>{}) << "a temporary file was left";
}

}  // namespace
