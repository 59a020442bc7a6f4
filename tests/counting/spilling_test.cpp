// Counting within a memory budget: whatever the budget and the chunk size,
// the same count file, byte for byte, in memcmp order; spilling failures
// reported; no temporary file left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <sstream>

#include "counting/chunked_input.h"
#include "tests/support/run_program.h"
#include "tests/support/table_for_tests.h"
#include "tests/support/test_inputs.h"

namespace {

constexpr std::int64_t Unconstrained = std::int64_t{1} << 40;

// Bytes that every count-file rule must survive: NUL, LF, CR, ';', high
// bytes, and the word separators; few enough that n-grams repeat.
const std::string Alphabet("ab c\0\n\r;\xE9\xFF\x80.,!?", 15);

struct Counted {
    std::string countFile;
    std::int64_t runsSpilled;
    std::int64_t temporaryBytesPeak;
};

Counted countWithin(const std::string& input, Mode mode, int n, std::int64_t chunkSize, std::int64_t budget,
                    std::size_t mergeWidth = 64, int threads = 1) {
    TempDir dir;
    writeFile(dir.path("input"), input);
    NGramCountTable table({budget, dir.path(""), mergeWidth, threads});
    std::ostringstream console;
    countInput(table, Arguments{mode, n, dir.path("input"), ""}, chunkSize, PrintedConsole(console));
    table.writeCountFile(dir.path("counts"));
    CountingStatistics statistics = table.countingStatistics();
    Counted run{readFile(dir.path("counts")), statistics.runsSpilled, statistics.temporaryBytesPeak};
    EXPECT_EQ(filesIn(dir.path("")), (std::vector<std::string>{"counts", "input"}))
        << "a temporary file was left";
    return run;
}

// Both kinds of spilling, from the table (word mode) and from sorted
// batches (character mode), in every way the runs can go.
struct Budget {
    const char* what;
    std::int64_t bytes;
    std::size_t mergeWidth;
    std::int64_t fewestSpills;
};
const Budget Budgets[] = {
    {"a few spills", 400'000, 64, 1},
    {"more runs than one merge opens", 0, 3, 4},
};

TEST(Spilling, CharacterCountsAreTheSameWhateverTheBudgetAndChunkSize) {
    std::string input = randomBytes(Alphabet, 40'000, 5);
    for (int n : {1, 2, 3, 8, 9, 16, 17, 19}) {
        std::string expected = countFileOf(everyWindow(input, n));
        for (std::int64_t chunkSize : {std::int64_t{1} << 30, std::int64_t{9'999}}) {
            std::string what = "c " + std::to_string(n) + ", chunk " + std::to_string(chunkSize);
            EXPECT_EQ(countWithin(input, Mode::Characters, n, chunkSize, Unconstrained).countFile, expected)
                << what << ", unconstrained";
            for (const Budget& budget : Budgets) {
                Counted run =
                    countWithin(input, Mode::Characters, n, chunkSize, budget.bytes, budget.mergeWidth);
                EXPECT_EQ(run.countFile, expected) << what << ", " << budget.what;
                // Up to N = 3 a chunk's counts are one small run, directly.
                if (n > 3) {
                    EXPECT_GE(run.runsSpilled, budget.fewestSpills) << what << ", " << budget.what;
                }
            }
        }
    }
}

TEST(Spilling, WordCountsAreTheSameWhateverTheBudget) {
    std::string input = randomBytes(Alphabet, 60'000, 6);
    for (int n : {1, 2, 5}) {
        for (std::int64_t chunkSize : {std::int64_t{1} << 30, std::int64_t{7'777}}) {
            std::string what = "w " + std::to_string(n) + ", chunk " + std::to_string(chunkSize);
            std::string expected = countWithin(input, Mode::Words, n, chunkSize, Unconstrained).countFile;
            EXPECT_NE(expected, "") << what;
            for (const Budget& budget : Budgets) {
                Counted run = countWithin(input, Mode::Words, n, chunkSize, budget.bytes, budget.mergeWidth);
                EXPECT_EQ(run.countFile, expected) << what << ", " << budget.what;
                if (n > 1) {
                    EXPECT_GE(run.runsSpilled, budget.fewestSpills) << what << ", " << budget.what;
                }
            }
        }
    }
}

// The same texts spilled again and again: merged as they come, the runs
// take about the count file's disk, not that once per spill.
TEST(Spilling, RepeatedSpillsTakeAboutTheCountFilesDisk) {
    std::string block = randomBytes(Alphabet, 20'000, 9), input;
    for (int i = 0; i < 30; ++i) input += block;
    Counted run = countWithin(input, Mode::Characters, 19, std::int64_t{1} << 30, 0);
    EXPECT_GT(run.runsSpilled, 30);
    EXPECT_LT(run.temporaryBytesPeak, 4 * static_cast<std::int64_t>(run.countFile.size()));
}

// More runs than descriptors the process may open: merged in groups as
// they come, each merge within the limit too.
TEST(Spilling, RunsStayWithinTheOpenFileLimit) {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    rlimit few = files;
    few.rlim_cur = std::min<rlim_t>(files.rlim_cur, filesIn("/proc/self/fd").size() + 16);
    setrlimit(RLIMIT_NOFILE, &few);
    std::string input = randomBytes(Alphabet, 200'000, 10);
    Counted run = countWithin(input, Mode::Characters, 19, std::int64_t{1} << 30, 0);
    setrlimit(RLIMIT_NOFILE, &files);
    EXPECT_GT(run.runsSpilled, 30);
    EXPECT_EQ(run.countFile, countFileOf(everyWindow(input, 19)));
}

// memcmp order, by hand: bytes as unsigned values, a text before its
// extensions.
bool textBelow(const std::string& a, const std::string& b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
    return a.size() < b.size();
}

TEST(Spilling, EveryLineIsBelowTheNext) {
    // No LF in the input, so each CR LF ends a line and its text is what
    // comes before the last ';'.
    std::string alphabet("ab \0\r;\xE9\xFF\x80.", 10);
    std::string input = randomBytes(alphabet, 30'000, 7);
    for (auto [mode, n] : {std::pair{Mode::Characters, 5}, {Mode::Characters, 12}, {Mode::Words, 2}}) {
        std::string file = countWithin(input, mode, n, 5'000, 0, 3).countFile;
        std::vector<std::string> texts;
        for (std::size_t start = 0, end; (end = file.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            std::string line = file.substr(start, end - start);
            texts.push_back(line.substr(0, line.rfind(';')));
        }
        ASSERT_GT(texts.size(), 100u);
        for (std::size_t i = 1; i < texts.size(); ++i)
            ASSERT_TRUE(textBelow(texts[i - 1], texts[i])) << "N " << n << ", line " << i;
    }
}

TEST(Spilling, TemporaryFilesGoBesideTheCountFileOrToTmp) {
    TempDir dir;
    writeFile(dir.path("existing"), "");
    EXPECT_EQ(temporaryFolderFor(dir.path("counts")), dir.path("").substr(0, dir.path("").size() - 1));
    EXPECT_EQ(temporaryFolderFor(dir.path("existing")), temporaryFolderFor(dir.path("counts")));
    EXPECT_EQ(temporaryFolderFor("counts"), ".");
    EXPECT_EQ(temporaryFolderFor("/counts"), "/");
    EXPECT_EQ(temporaryFolderFor("/dev/null"), "/tmp");
}

TEST(HostileInput, TextsCollidingUnderAnUnseededHashStaySpreadOut) {
    // Texts whose hash with seed 0 has the same low 10 bits: under a fixed
    // hash they would share a handful of home slots.
    NGramCountTable unseeded({Unconstrained, "/tmp"});
    setHashSeed(unseeded, 0);
    std::vector<std::string> texts;
    for (std::uint64_t i = 0; texts.size() < 3'000; ++i) {
        std::string text = std::to_string(i);
        text += 'w';
        if ((hashNGramText(unseeded, text) & 1023) == 0) texts.push_back(text);
    }
    auto probeDistance = [&](std::uint64_t seed) {
        NGramCountTable table({Unconstrained, "/tmp"});
        setHashSeed(table, seed);
        for (const std::string& text : texts) table.addNGram(text);
        return totalProbeDistance(table);
    };
    EXPECT_GT(probeDistance(0), 100 * texts.size()) << "the texts do collide without a seed";
    EXPECT_LT(probeDistance(0x9E3779B97F4A7C15u), 4 * texts.size());
}

// Threads share the sorting of each batch: the same count file for any
// number of them, in memory and spilled.
TEST(Threads, CountFilesAreTheSameForAnyNumberOfThreads) {
    std::string input = randomBytes(Alphabet, 300'000, 9);
    for (int n : {4, 9, 19}) {
        std::string expected = countFileOf(everyWindow(input, n));
        for (int threads : {1, 2, 3, 7})
            for (std::int64_t budget : {Unconstrained, std::int64_t{0}}) {
                Counted run = countWithin(input, Mode::Characters, n, 250'000, budget, 3, threads);
                EXPECT_TRUE(run.countFile == expected)
                    << "c " << n << ", " << threads << " threads, budget " << budget;
            }
    }
}

// Word mode counts each chunk's slices into tables of their own: the same
// count file and console for any number of threads, in memory and with
// tables small enough to spill (22 MB gives two tables of about 4 MB).
TEST(Threads, WordCountsAreTheSameForAnyNumberOfThreads) {
    std::string input = randomBytes("abcdefghijklmnopqrstuvwxyz        ..,!?\n", 3'000'000, 4);
    for (int n : {1, 3})
        for (std::int64_t budget : {Unconstrained, std::int64_t{22} << 20}) {
            Counted one = countWithin(input, Mode::Words, n, 1'000'000, budget, 64, 1);
            for (int threads : {2, 3, 7}) {
                Counted run = countWithin(input, Mode::Words, n, 1'000'000, budget, 64, threads);
                EXPECT_TRUE(run.countFile == one.countFile)
                    << "w " << n << ", " << threads << " threads, budget " << budget;
            }
        }
}

// A run of the program whose address space is far below what its counts
// would take in one table: it spills.
constexpr rlim_t AddressSpace = 160 << 20;

void limit(int resource, rlim_t value) {
    rlimit bound{value, value};
    setrlimit(resource, &bound);
}

class TightMemory : public ::testing::Test {
protected:
    void SetUp() override {
        if (!addressSpaceLimitsWork()) GTEST_SKIP() << "address-space limits do not work under a sanitizer";
        input_ = randomBytes(Alphabet, 8'000'000, 8);
        writeFile(dir_.path("input"), input_);
    }
    std::function<void()> limits(const std::function<void()>& moreLimits = {}) {
        return [=] {
            limit(RLIMIT_AS, AddressSpace);
            if (moreLimits) moreLimits();
        };
    }
    ProgramRun run(const std::string& output, const std::function<void()>& moreLimits = {}) {
        return runProgramPrepared(TALLOMER_PROGRAM, {"c", "19", dir_.path("input"), output},
                                  limits(moreLimits));
    }
    std::vector<std::string> files() const { return filesIn(dir_.path("")); }
    TempDir dir_;
    std::string input_;
};

TEST_F(TightMemory, CompletesWithTheSameBytes) {
    // One table entry per 19-gram would take some 340 MB here.
    ProgramRun free = runProgram(TALLOMER_PROGRAM, {"c", "19", dir_.path("input"), dir_.path("free")});
    ASSERT_EQ(free.exitCode, 0) << free.err;
    ProgramRun tight = run(dir_.path("tight"));
    ASSERT_EQ(tight.exitCode, 0) << tight.err;
    EXPECT_EQ(tight.err, "");
    EXPECT_TRUE(readFile(dir_.path("tight")) == readFile(dir_.path("free"))) << "count files differ";
    EXPECT_EQ(files(), (std::vector<std::string>{"free", "input", "tight"}));
}

TEST_F(TightMemory, AFileSizeLimitWhileSpillingIsReportedAndLeavesNothing) {
    ProgramRun failed = run(dir_.path("counts"), [] {
        signal(SIGXFSZ, SIG_IGN);
        limit(RLIMIT_FSIZE, 1 << 20);
    });
    EXPECT_EQ(failed.exitCode, 2);
    std::string folder = dir_.path("").substr(0, dir_.path("").size() - 1);
    EXPECT_EQ(failed.err.rfind("tallomer: " + folder + ": ", 0), 0u) << failed.err;
    EXPECT_NE(failed.err.find("File too large"), std::string::npos) << failed.err;
    EXPECT_EQ(files(), (std::vector<std::string>{"input"}));
}

TEST_F(TightMemory, LimitsBelowWhatCountingNeedsAreToldAtStart) {
    ProgramRun failed =
        runProgramPrepared(TALLOMER_PROGRAM, {"c", "19", dir_.path("input"), dir_.path("counts")},
                           [] { limit(RLIMIT_AS, 40 << 20); });
    EXPECT_EQ(failed.exitCode, 2);
    std::string start = "tallomer: " + dir_.path("input") + ": out of memory: needs at least ";
    EXPECT_EQ(failed.err.rfind(start, 0), 0u) << failed.err;
    EXPECT_EQ(failed.out.find("Loading chunk"), std::string::npos) << failed.out;
}

TEST_F(TightMemory, AFolderThatCannotBeWrittenToIsReported) {
    ProgramRun failed = run("/proc/tallomer-counts");
    EXPECT_EQ(failed.exitCode, 2);
    EXPECT_EQ(failed.err.rfind("tallomer: /proc", 0), 0u) << failed.err;
}

TEST_F(TightMemory, KilledWhileSpillingLeavesNoTemporaryFile) {
    // Runs spill while the input is counted, long before the count file's
    // own unnamed file is made.
    std::optional<ProgramRun> killed;
    for (int attempt = 0; attempt < 3 && !killed; ++attempt)
        killed = runProgramSignalledWhileWriting(TALLOMER_PROGRAM,
                                                 {"c", "19", dir_.path("input"), dir_.path("counts")},
                                                 dir_.path(""), SIGKILL, limits());
    ASSERT_TRUE(killed) << "never caught spilling";
    EXPECT_EQ(killed->exitCode, 128 + SIGKILL);
    EXPECT_EQ(files(), (std::vector<std::string>{"input"}));
}

}  // namespace
