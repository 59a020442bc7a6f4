#include "tests/support/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "tests/support/pseudo_terminal.h"

namespace {

// A started child whose console goes to files in a directory of its own.
struct Child {
    TempDir capture;
    pid_t pid = -1;
};

void resetSignals() {
    for (int reset : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) std::signal(reset, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// `prepare` runs in the child just before the program starts.
void start(
    Child& child, const std::string& program, const std::vector<std::string>& arguments,
    const std::string& stdinPath, const std::function<void()>& prepare = [] {}) {
    std::string outPath = child.capture.path("stdout"), errPath = child.capture.path("stderr");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    child.pid = fork();
    if (child.pid < 0) throw std::runtime_error("fork failed");
    if (child.pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0) _exit(127);
        if (stdinPath.empty()) {
            close(0);
        } else {
            int in = open(stdinPath.c_str(), O_RDONLY);
            if (in < 0) _exit(127);
            dup2(in, 0);
        }
        dup2(out, 1);
        dup2(err, 2);
        resetSignals();
        prepare();
        execv(program.c_str(), argv.data());
        _exit(127);
    }
}

ProgramRun resultOf(Child& child, int status) {
    ProgramRun run;
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.exitCode = 128 + WTERMSIG(status);
    else
        throw std::runtime_error("the program neither exited nor was killed");
    run.out = readFile(child.capture.path("stdout"));
    run.err = readFile(child.capture.path("stderr"));
    return run;
}

ProgramRun finish(Child& child) {
    int status = 0;
    if (waitpid(child.pid, &status, 0) != child.pid) throw std::runtime_error("waitpid failed");
    return resultOf(child, status);
}

// Fills `seen` from the pipe until it closes, calling the watch after each
// line end.
void watchOutput(int pipe, std::string& seen, const OutputWatch& watch) {
    char buffer[4096];
    for (ssize_t got; (got = read(pipe, buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("reading the program's output failed");
        }
        for (ssize_t i = 0; i < got; ++i) {
            seen += buffer[i];
            if (buffer[i] == '\n') watch(seen);
        }
    }
}

// Whether the process holds an unnamed file of the folder open: its link in
// /proc reads "FOLDER/#INODE (deleted)".
bool writesUnnamedFileIn(pid_t pid, const std::string& folder) {
    std::error_code error;
    std::filesystem::directory_iterator descriptors("/proc/" + std::to_string(pid) + "/fd", error);
    for (; !error && descriptors != std::filesystem::directory_iterator(); descriptors.increment(error)) {
        std::string target = std::filesystem::read_symlink(descriptors->path(), error).string();
        if (!error && target.starts_with(folder + "/#") && target.ends_with(" (deleted)")) return true;
    }
    return false;
}

}  // namespace

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& stdinPath, const OutputWatch& watch) {
    Child child;
    if (!watch) {
        start(child, program, arguments, stdinPath);
        return finish(child);
    }
    int ends[2];
    if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
    start(child, program, arguments, stdinPath, [&] {
        dup2(ends[1], 1);
        close(ends[0]);
        close(ends[1]);
    });
    close(ends[1]);
    std::string seen;
    watchOutput(ends[0], seen, watch);
    close(ends[0]);
    ProgramRun run = finish(child);
    run.out = seen;
    return run;
}

ProgramRun runProgramPrepared(const std::string& program, const std::vector<std::string>& arguments,
                              const std::function<void()>& prepare) {
    Child child;
    start(child, program, arguments, "/dev/null", prepare);
    return finish(child);
}

ProgramRun runProgramWithFileSizeLimit(const std::string& program, const std::vector<std::string>& arguments,
                                       std::int64_t bytes) {
    Child child;
    start(child, program, arguments, "/dev/null", [bytes] {
        rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    });
    return finish(child);
}

ProgramRun runProgramWithTerminalError(const std::string& program, const std::vector<std::string>& arguments,
                                       int columns) {
    PseudoTerminal terminal(columns);
    Child child;
    start(child, program, arguments, "/dev/null", [&] { dup2(terminal.terminal(), 2); });
    terminal.closeTerminal();
    std::string seen = terminal.readUntilClosed();
    ProgramRun run = finish(child);
    run.err = seen;
    return run;
}

ProgramRun runProgramWithClosedConsole(const std::string& program,
                                       const std::vector<std::string>& arguments) {
    Child child;
    start(child, program, arguments, "/dev/null", [] {
        int ends[2];
        if (pipe(ends) != 0) _exit(127);
        dup2(ends[1], 1);
        close(ends[0]);
        close(ends[1]);
    });
    return finish(child);
}

std::optional<ProgramRun> runProgramSignalledWhileWriting(const std::string& program,
                                                          const std::vector<std::string>& arguments,
                                                          const std::string& folder, int signal,
                                                          const std::function<void()>& prepare) {
    const std::string canonicalFolder = std::filesystem::canonical(folder).string();
    Child child;
    start(child, program, arguments, "/dev/null", prepare);
    for (;;) {
        int status = 0;
        if (waitpid(child.pid, &status, WNOHANG) == child.pid) return std::nullopt;
        if (!writesUnnamedFileIn(child.pid, canonicalFolder)) continue;
        // Stopped, it cannot move on to naming its file between the look
        // and the signal.
        kill(child.pid, SIGSTOP);
        waitpid(child.pid, &status, WUNTRACED);
        bool stillUnnamed = writesUnnamedFileIn(child.pid, canonicalFolder);
        if (stillUnnamed) kill(child.pid, signal);
        kill(child.pid, SIGCONT);
        if (!stillUnnamed) {
            finish(child);
            return std::nullopt;
        }
        return finish(child);
    }
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int permissionsOf(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) throw std::runtime_error("cannot stat " + path);
    return static_cast<int>(status.st_mode & 07777);
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ngram-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

void writeSparseFile(const std::string& path, const std::string& head, std::int64_t size,
                     const std::string& tail) {
    writeFile(path, head);
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size) - tail.size());
    std::ofstream file(path, std::ios::binary | std::ios::app);
    file << tail;
    if (!file.flush()) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}
