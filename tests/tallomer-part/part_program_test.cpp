// tallomer-part and tallomer-merge run as a cluster runs them: the parts of
// an input, merged in key ranges and concatenated, must be tallomer's count
// file byte for byte, and the parts of several inputs their sum.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

// Bytes that a text-based format would trip on, put where parts meet.
const std::string Awkward("\0\n\r;\x80\xE9\xFF;\r\n", 10);

ProgramRun run(const char* program, const std::vector<std::string>& arguments) {
    ProgramRun done = runProgram(program, arguments);
    EXPECT_EQ(done.err, "") << program;
    return done;
}

// Random text with the awkward bytes at every cut, so that windows and
// words that cross a part's end hold them.
std::string inputWithAwkwardBytesAt(const std::vector<std::int64_t>& cuts, std::size_t size) {
    std::string text = randomBytes(std::string("ab c,\xE9\n", 7), size, 7);
    for (std::int64_t cut : cuts) text.replace(static_cast<std::size_t>(cut) - 5, Awkward.size(), Awkward);
    return text;
}

// Counts the input in parts cut at `cuts` (its end is "end"), merges them
// in `ranges` ranges and returns the ranges concatenated.
std::string countedInParts(const TempDir& dir, const std::string& mode, int n, const std::string& input,
                           const std::vector<std::string>& cuts, int ranges) {
    std::vector<std::string> parts;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        parts.push_back(dir.path("part" + std::to_string(i)));
        EXPECT_EQ(
            run(TALLOMER_PART_PROGRAM, {mode, std::to_string(n), input, cuts[i], cuts[i + 1], parts.back()})
                .exitCode,
            0);
    }
    std::string joined;
    for (int k = 1; k <= ranges; ++k) {
        std::vector<std::string> arguments = {std::to_string(k) + "/" + std::to_string(ranges),
                                              dir.path("range")};
        arguments.insert(arguments.end(), parts.begin(), parts.end());
        EXPECT_EQ(run(TALLOMER_MERGE_PROGRAM, arguments).exitCode, 0);
        joined += readFile(dir.path("range"));
    }
    return joined;
}

TEST(TallomerPart, RangesOfPartsConcatenatedAreTallomersCountFile) {
    TempDir dir;
    const std::string input = dir.path("input");
    writeFile(input, inputWithAwkwardBytesAt({4'001, 9'999}, 12'000));
    struct Case {
        std::string mode;
        std::vector<int> ns;
        std::vector<std::vector<std::string>> cuts;
        std::vector<int> ranges;
    } const cases[] = {
        {"c", {1, 3, 8, 19}, {{"0", "end"}, {"0", "4001", "end"}, {"0", "4001", "9999", "12000"}}, {1, 2, 5}},
        // Word mode's parts meet at chunk starts only: in a file of one
        // chunk, an empty part at its end.
        {"w", {1, 3}, {{"0", "end"}, {"0", "12000", "end"}}, {1, 2, 5}},
        // More ranges than distinct texts: the empty ranges are empty files.
        {"c", {1}, {{"0", "4001", "end"}}, {40}},
    };
    for (const Case& c : cases)
        for (int n : c.ns) {
            ASSERT_EQ(run(TALLOMER_PROGRAM, {c.mode, std::to_string(n), input, dir.path("counts")}).exitCode,
                      0);
            const std::string expected = readFile(dir.path("counts"));
            for (const std::vector<std::string>& cuts : c.cuts)
                for (int ranges : c.ranges)
                    EXPECT_TRUE(countedInParts(dir, c.mode, n, input, cuts, ranges) == expected)
                        << c.mode << " " << n << ", " << cuts.size() - 1 << " parts, " << ranges << " ranges";
        }
}

TEST(TallomerPart, PartsOfSeveralInputsAreSummed) {
    TempDir dir;
    const std::string a = randomBytes(Awkward, 5'000, 1), b = randomBytes(Awkward, 3'000, 2);
    writeFile(dir.path("a"), a);
    writeFile(dir.path("b"), b);
    run(TALLOMER_PART_PROGRAM, {"c", "4", dir.path("a"), "0", "2500", dir.path("a1")});
    run(TALLOMER_PART_PROGRAM, {"c", "4", dir.path("a"), "2500", "end", dir.path("a2")});
    run(TALLOMER_PART_PROGRAM, {"c", "4", dir.path("b"), "0", "end", dir.path("b1")});
    Counts sum = everyWindow(a, 4);
    for (const auto& [text, count] : everyWindow(b, 4)) sum[text] += count;
    ProgramRun merged =
        run(TALLOMER_MERGE_PROGRAM, {"1/1", dir.path("out"), dir.path("b1"), dir.path("a2"), dir.path("a1")});
    ASSERT_EQ(merged.exitCode, 0);
    EXPECT_TRUE(readFile(dir.path("out")) == countFileOf(sum));
}

TEST(TallomerPart, RefusalsLeaveThePartFileAlone) {
    TempDir dir;
    const std::string input = dir.path("input"), part = dir.path("part");
    writeFile(input, std::string(1'000, 'a'));
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string err;  // its start
    } const cases[] = {
        {{"w", "2", input, "500", "end", part},
         2,
         "tallomer-part: " + input + ": the range's start 500 is neither"},
        {{"c", "2", input, "0", "1001", part},
         2,
         "tallomer-part: " + input + ": the range's end 1001 is past"},
        {{"c", "2", dir.path("missing"), "0", "end", part},
         2,
         "tallomer-part: " + dir.path("missing") + ": "},
        {{"c", "2", input, "1e3", "end", part}, 1, "tallomer-part: "},
        {{"c", "0", input, "0", "end", part}, 1, "tallomer-part: "},
    };
    for (const Case& c : cases) {
        writeFile(part, "old");
        ProgramRun refused = runProgram(TALLOMER_PART_PROGRAM, c.arguments);
        EXPECT_EQ(refused.exitCode, c.exitCode) << c.err;
        EXPECT_EQ(refused.err.rfind(c.err, 0), 0u) << refused.err;
        EXPECT_EQ(readFile(part), "old") << c.err;
    }
}

// A merge never mixes versions or files: an edit between part tasks, also
// one between the sampled blocks, and halves of two files of equal size and
// equal samples are refused, while equal files under two names are summed.
TEST(TallomerPart, PartsOfOtherVersionsOrFilesAreNotMerged) {
    TempDir dir;
    const std::string text = randomBytes("ab c", 2'000'000, 3), e = dir.path("E.txt");
    writeFile(e, text);
    auto part = [&](const std::string& input, const std::string& from, const std::string& to,
                    const std::string& name) {
        EXPECT_EQ(run(TALLOMER_PART_PROGRAM, {"c", "3", input, from, to, dir.path(name)}).exitCode, 0);
        return dir.path(name);
    };
    auto merged = [&](const std::vector<std::string>& parts) {
        std::vector<std::string> arguments = {"1/1", dir.path("out")};
        arguments.insert(arguments.end(), parts.begin(), parts.end());
        return runProgram(TALLOMER_MERGE_PROGRAM, arguments);
    };
    std::string first = part(e, "0", "700000", "e1");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // past the clock's granularity
    std::string edited = text;
    edited[600'000] = edited[1'000'000] = 'Q';
    writeFile(e, edited);
    ProgramRun mixed = merged({first, part(e, "700000", "1400000", "e2"), part(e, "1400000", "end", "e3")});
    EXPECT_EQ(mixed.exitCode, 2);
    EXPECT_NE(mixed.err.find("parts of different versions of " + e), std::string::npos) << mixed.err;
    EXPECT_FALSE(fileExists(dir.path("out")));

    std::string y = text;
    y[1'000'000] = 'Q';  // not in a sampled block
    writeFile(dir.path("Y.txt"), y);
    writeFile(dir.path("X.txt"), text);
    ProgramRun halves = merged(
        {part(dir.path("X.txt"), "0", "1000000", "x1"), part(dir.path("Y.txt"), "1000000", "end", "y2")});
    EXPECT_EQ(halves.exitCode, 2);
    EXPECT_NE(halves.err.find("are in no part"), std::string::npos) << halves.err;

    // Equal bytes under two names are two inputs; one name spelt two ways
    // is one.
    ProgramRun copies = merged({part(dir.path("X.txt"), "0", "end", "x"), part(e, "0", "end", "e"),
                                part(dir.path("./E.txt"), "0", "end", "e-again")});
    ASSERT_EQ(copies.exitCode, 2) << "the same part by two spellings";
    EXPECT_NE(copies.err.find("the same part as"), std::string::npos) << copies.err;
    writeFile(e, text);
    ASSERT_EQ(merged({part(dir.path("X.txt"), "0", "end", "x"), part(e, "0", "end", "e")}).exitCode, 0);
    ASSERT_EQ(run(TALLOMER_PROGRAM, {"c", "3", e, dir.path("one")}).exitCode, 0);
    Counts doubled;
    for (const auto& [text3, count] : everyWindow(text, 3)) doubled[text3] = 2 * count;
    EXPECT_TRUE(readFile(dir.path("out")) == countFileOf(doubled));
}

// Texts longer than a block: the part's index keeps a prefix of each, and
// neither the part's writer nor the merge holds the index, so both run in
// an address space that tallomer's counting needs anyway (the index once
// held and stored every text again).
TEST(TallomerPart, TextsLongerThanABlockCountAndMergeInLittleMemory) {
    if (!addressSpaceLimitsWork()) GTEST_SKIP() << "address-space limits do not work under a sanitizer";
    TempDir dir;
    // 17-letter words: w 3700's texts are some 67 KB each, 64 MB in all.
    std::string words = randomBytes("abcdefghijklmnopqrstuvwxyz", 110'000, 9);
    for (std::size_t i = 17; i < words.size(); i += 18) words[i] = ' ';
    const std::string input = dir.path("input"), part = dir.path("part");
    writeFile(input, words);
    ASSERT_EQ(run(TALLOMER_PROGRAM, {"w", "3700", input, dir.path("counts")}).exitCode, 0);
    const std::string expected = readFile(dir.path("counts"));
    auto limited = [] {
        rlimit bound{100 << 20, 100 << 20};
        setrlimit(RLIMIT_AS, &bound);
    };
    ProgramRun counted =
        runProgramPrepared(TALLOMER_PART_PROGRAM, {"w", "3700", input, "0", "end", part}, limited);
    ASSERT_EQ(counted.exitCode, 0) << counted.err;
    EXPECT_LT(readFile(part).size(), expected.size() + expected.size() / 20);
    ProgramRun merged = runProgramPrepared(TALLOMER_MERGE_PROGRAM, {"1/1", dir.path("out"), part}, limited);
    ASSERT_EQ(merged.exitCode, 0) << merged.err;
    EXPECT_TRUE(readFile(dir.path("out")) == expected);
}

// The two-argument form a workflow asks before planning: MODE and N checked
// as a count checks them, and the multiple that ranges are cut at.
TEST(TallomerPart, ChecksModeAndNAndSaysWhereRangesMayBeCut) {
    struct Case {
        std::string mode, n;
        int exitCode;
        std::string out;
    } const cases[] = {
        {"c", "19", 0, "1\n"}, {"words", "3", 0, "100000000\n"},
        {"c", "20", 1, ""},    {"w", "100000000", 1, ""},
        {"x", "3", 1, ""},
    };
    for (const Case& c : cases) {
        ProgramRun checked = runProgram(TALLOMER_PART_PROGRAM, {c.mode, c.n});
        EXPECT_EQ(checked.exitCode, c.exitCode) << c.mode << " " << c.n;
        EXPECT_EQ(checked.out, c.out) << c.mode << " " << c.n;
        EXPECT_EQ(checked.err.empty(), c.exitCode == 0) << checked.err;
    }
}

}  // namespace
