// An output takes its path's place only when it is complete: the file
// pieces on their own, and tallomer and distribution run as a user runs
// them into full disks, file-size limits, signals and special files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <thread>

#include "common/file_io.h"
#include "common/output_file.h"
#include "common/replacement_file.h"
#include "common/signal_cleanup.h"
#include "tests/support/run_program.h"

namespace {

using Names = std::vector<std::string>;

bool unnamedFilesWorkIn(const std::string& folder) {
    int descriptor = open(folder.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (descriptor >= 0) close(descriptor);
    return descriptor >= 0;
}

int newFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return static_cast<int>(0666 & ~mask);
}

TEST(OutputFile, WithoutCloseLeavesThePathAsItWas) {
    for (bool existed : {true, false}) {
        TempDir dir;
        if (existed) writeFile(dir.path("out"), "old");
        {
            OutputFile file(dir.path("out"));
            file.write(std::string(3'000'000, 'x'));
        }
        EXPECT_EQ(filesIn(dir.path("")), existed ? Names{"out"} : Names{}) << existed;
        if (existed) {
            EXPECT_EQ(readFile(dir.path("out")), "old");
        }
    }
}

TEST(ReplacementFile, CommitGivesTheBytesAndKeepsOrMakesTheMode) {
    using Temporary = ReplacementFile::Temporary;
    for (Temporary temporary : {Temporary::UnnamedWherePossible, Temporary::Named}) {
        for (bool existed : {true, false}) {
            TempDir dir;
            const std::string path = dir.path("out");
            if (existed) {
                writeFile(path, "old bytes");
                chmod(path.c_str(), 0604);
            }
            ReplacementFile file(path, temporary);
            ASSERT_EQ(::write(file.descriptor(), "new", 3), 3);
            EXPECT_EQ(readFile(path), existed ? "old bytes" : "") << "replaced before commit";
            file.commit();
            EXPECT_EQ(readFile(path), "new");
            EXPECT_EQ(permissionsOf(path), existed ? 0604 : newFileMode());
            EXPECT_EQ(filesIn(dir.path("")), Names{"out"});
        }
    }
}

// Names of files made beside the target: a target name of any length leaves
// room for them, and files put in the folder beforehand cannot block them.
TEST(ReplacementFile, TemporaryNamesFitAndCannotBeTakenBeforehand) {
    const struct {
        const char* what;
        std::string name;
        int takenNames;
    } rows[] = {
        {"a target name of 255 bytes", std::string(255, 'n'), 0},
        {"the names of the process id taken", "out", 100},
    };
    for (const auto& row : rows) {
        for (auto temporary :
             {ReplacementFile::Temporary::UnnamedWherePossible, ReplacementFile::Temporary::Named}) {
            TempDir dir;
            for (int taken = 0; taken < row.takenNames; ++taken)
                writeFile(
                    dir.path("." + row.name + "." + std::to_string(getpid()) + "-" + std::to_string(taken)),
                    "");
            ReplacementFile file(dir.path(row.name), temporary);
            ASSERT_EQ(::write(file.descriptor(), "new", 3), 3);
            file.commit();
            EXPECT_EQ(readFile(dir.path(row.name)), "new") << row.what;
            EXPECT_EQ(filesIn(dir.path("")).size(), static_cast<std::size_t>(row.takenNames + 1)) << row.what;
        }
    }
}

// A named temporary file is what a signal could leave behind; the unnamed
// one the kernel drops by itself.
TEST(ReplacementFile, TerminatingSignalsRemoveANamedTemporaryFile) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        TempDir dir;
        writeFile(dir.path("out"), "old");
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(signal, SIG_DFL);
            cleanUpTemporaryFilesOnSignals();
            try {
                ReplacementFile file(dir.path("out"), ReplacementFile::Temporary::Named);
                if (::write(file.descriptor(), "new", 3) != 3 || filesIn(dir.path("")).size() != 2) _exit(3);
                raise(signal);
            } catch (...) {
            }
            _exit(4);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal << " status " << status;
        EXPECT_EQ(filesIn(dir.path("")), Names{"out"}) << signal;
        EXPECT_EQ(readFile(dir.path("out")), "old");
    }
}

// The programs' runs below all start in a folder holding "in" and an old
// "out" with its own mode.
const std::string OldOutput = "old output, which must survive";
constexpr int OldMode = 0604;

std::string words(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += 'w';
        text += std::to_string(100000 + i);
        text += ' ';
    }
    return text;
}

struct ProgramCase {
    const char* what;
    std::string program;                 // "tallomer" or "distribution"
    std::vector<std::string> arguments;  // "IN" and "OUT" stand for the files
    std::string input;
};

std::string programPath(const std::string& program) {
    return program == "tallomer" ? TALLOMER_PROGRAM : DISTRIBUTION_PROGRAM;
}

std::vector<std::string> argumentsIn(const TempDir& dir, const ProgramCase& run) {
    std::vector<std::string> arguments;
    for (const std::string& argument : run.arguments)
        arguments.push_back(argument == "IN"    ? dir.path("in")
                            : argument == "OUT" ? dir.path("out")
                                                : argument);
    return arguments;
}

void prepare(const TempDir& dir, const ProgramCase& run) {
    writeFile(dir.path("in"), run.input);
    writeFile(dir.path("out"), OldOutput);
    chmod(dir.path("out").c_str(), OldMode);
}

void expectOldOutputAlone(const TempDir& dir, const ProgramCase& run) {
    EXPECT_EQ(readFile(dir.path("out")), OldOutput) << run.what;
    EXPECT_EQ(permissionsOf(dir.path("out")), OldMode) << run.what;
    EXPECT_EQ(readFile(dir.path("in")), run.input) << run.what;
    EXPECT_EQ(filesIn(dir.path("")), (Names{"in", "out"})) << run.what;
}

TEST(ReplacedOutput, AFileSizeLimitLeavesTheOldOutputAndTheInput) {
    // Outputs of a few KB, above the limit; the console's few lines stay below it.
    std::string pairs, counts;
    for (char first = 'a'; first <= 'z'; ++first) {
        for (char second = 'a'; second <= 'z'; ++second) pairs += {first, second};
        counts += "a;" + std::to_string(first * 10) + "\r\nb;" + std::to_string(first) + "\r\n";
    }
    const std::pair<ProgramCase, std::int64_t> runs[] = {
        {{"tallomer, fails in the last flush", "tallomer", {"c", "2", "IN", "OUT"}, pairs}, 1000},
        {{"tallomer, fails after a first MB", "tallomer", {"w", "200", "IN", "OUT"}, words(2000)}, 1'500'000},
        {{"tallomer, output names the input", "tallomer", {"c", "2", "IN", "IN"}, pairs}, 1000},
        {{"distribution", "distribution", {"1", "IN", "OUT"}, counts}, 100},
        {{"distribution, output names the input", "distribution", {"1", "IN", "IN"}, counts}, 100},
    };
    for (const auto& [run, limit] : runs) {
        TempDir dir;
        prepare(dir, run);
        ProgramRun result =
            runProgramWithFileSizeLimit(programPath(run.program), argumentsIn(dir, run), limit);
        EXPECT_EQ(result.exitCode, 2) << run.what;
        const std::string named = run.arguments.back() == "IN" ? dir.path("in") : dir.path("out");
        EXPECT_EQ(result.err, run.program + ": " + named + ": File too large\n") << run.what;
        expectOldOutputAlone(dir, run);
    }
}

TEST(ReplacedOutput, ASignalWhileWritingLeavesTheOldOutputAndEndsAsThatSignal) {
    if (!unnamedFilesWorkIn(TempDir().path(""))) GTEST_SKIP() << "the temporary folder refuses O_TMPFILE";
    // Large outputs, so the write lasts long enough to be caught.
    std::string counts;
    for (int i = 0; i < 400'000; ++i) {
        counts += "a;";
        counts += std::to_string(i);
        counts += "\r\n";
    }
    const std::pair<ProgramCase, int> runs[] = {
        {{"tallomer, SIGTERM", "tallomer", {"w", "200", "IN", "OUT"}, words(20'000)}, SIGTERM},
        {{"tallomer, SIGINT", "tallomer", {"w", "200", "IN", "OUT"}, words(20'000)}, SIGINT},
        {{"tallomer, SIGHUP", "tallomer", {"w", "200", "IN", "OUT"}, words(20'000)}, SIGHUP},
        {{"tallomer, SIGKILL", "tallomer", {"w", "200", "IN", "OUT"}, words(20'000)}, SIGKILL},
        {{"distribution, SIGTERM", "distribution", {"1", "IN", "OUT"}, counts}, SIGTERM},
    };
    for (const auto& [run, signal] : runs) {
        TempDir dir;
        std::optional<ProgramRun> result;
        for (int attempt = 0; attempt < 5 && !result; ++attempt) {
            prepare(dir, run);
            result = runProgramSignalledWhileWriting(programPath(run.program), argumentsIn(dir, run),
                                                     dir.path(""), signal);
        }
        ASSERT_TRUE(result) << run.what << ": never caught while writing";
        EXPECT_EQ(result->exitCode, 128 + signal) << run.what << result->err;
        EXPECT_EQ(result->out.find("Done."), std::string::npos) << run.what;
        expectOldOutputAlone(dir, run);
    }
}

// Special files are written directly; a link keeps being a link.
TEST(ReplacedOutput, SpecialFilesAndLinks) {
    const std::pair<ProgramCase, Names> runs[] = {
        {{"tallomer", "tallomer", {"c", "1", "IN", "OUT"}, "aab"}, {"a;2\r\nb;1\r\n"}},
        {{"distribution", "distribution", {"1", "IN", "OUT"}, "a;2\r\nb;1\r\n"}, {"1;1\r\n2;1\r\n"}},
    };
    for (const auto& entry : runs) {
        const ProgramCase& run = entry.first;
        const Names& outputs = entry.second;
        auto expected = [&](const std::string& bytes) {
            return std::find(outputs.begin(), outputs.end(), bytes) != outputs.end();
        };
        TempDir dir;
        prepare(dir, run);
        std::vector<std::string> arguments = argumentsIn(dir, run);
        auto runTo = [&](const std::string& output) {
            arguments.back() = output;
            return runProgram(programPath(run.program), arguments).exitCode;
        };

        EXPECT_EQ(runTo("/dev/null"), 0) << run.what;
        struct stat status;
        EXPECT_TRUE(stat("/dev/null", &status) == 0 && S_ISCHR(status.st_mode));

        ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0600), 0);
        std::string fromFifo;
        std::thread reader([&] { fromFifo = readFile(dir.path("fifo")); });
        EXPECT_EQ(runTo(dir.path("fifo")), 0) << run.what;
        reader.join();
        EXPECT_TRUE(expected(fromFifo)) << run.what << ": " << fromFifo;

        std::filesystem::create_symlink("out", dir.path("link"));
        EXPECT_EQ(runTo(dir.path("link")), 0) << run.what;
        EXPECT_TRUE(std::filesystem::is_symlink(dir.path("link"))) << run.what;
        EXPECT_TRUE(expected(readFile(dir.path("out")))) << run.what;
        EXPECT_EQ(permissionsOf(dir.path("out")), OldMode) << run.what;

        EXPECT_EQ(runTo(dir.path("new")), 0) << run.what;
        EXPECT_EQ(permissionsOf(dir.path("new")), newFileMode()) << run.what;
        EXPECT_EQ(filesIn(dir.path("")), (Names{"fifo", "in", "link", "new", "out"})) << run.what;
    }
}

TEST(ReplacedOutput, AConsoleClosedEarlyStillGivesTheCompleteCountFile) {
    TempDir dir;
    writeFile(dir.path("in"), words(2000));
    ASSERT_EQ(runProgram(TALLOMER_PROGRAM, {"w", "3", dir.path("in"), dir.path("expected")}).exitCode, 0);
    ProgramRun run =
        runProgramWithClosedConsole(TALLOMER_PROGRAM, {"w", "3", dir.path("in"), dir.path("out")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "tallomer: standard output: write error\n");
    EXPECT_EQ(readFile(dir.path("out")), readFile(dir.path("expected")));
}

TEST(ReplacedOutput, AnEmptyPathIsNamedInTheMessage) {
    TempDir dir;
    writeFile(dir.path("in"), "a;1\r\n");
    const std::pair<std::string, std::vector<std::string>> runs[] = {
        {"tallomer", {"c", "1", "", dir.path("out")}},
        {"tallomer", {"c", "1", dir.path("in"), ""}},
        {"distribution", {"1", "", dir.path("out")}},
        {"distribution", {"1", dir.path("in"), ""}},
    };
    for (const auto& [program, arguments] : runs) {
        ProgramRun run = runProgram(programPath(program), arguments);
        EXPECT_EQ(run.exitCode, 2) << program;
        EXPECT_EQ(run.err, program + ": '': No such file or directory\n");
    }
}

}  // namespace
