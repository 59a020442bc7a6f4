#include "tests/support/run_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

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

}  // namespace

namespace {
pid_t runningChild = -1;
}

int runningProgram() { return runningChild; }

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& stdinPath, const OutputWatch& watch,
                      const std::function<void()>& inChild) {
    TempDir capture;
    std::string outPath = capture.path("stdout"), errPath = capture.path("stderr");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int outPipe[2] = {-1, -1};
    if (watch && pipe(outPipe) != 0) throw std::runtime_error("pipe failed");

    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        int out = watch ? outPipe[1] : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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
        if (watch) close(outPipe[0]);
        if (inChild) inChild();
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    ProgramRun run;
    runningChild = child;
    if (watch) {
        close(outPipe[1]);
        watchOutput(outPipe[0], run.out, watch);
        close(outPipe[0]);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) throw std::runtime_error("waitpid failed");
    runningChild = -1;
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.exitCode = 128 + WTERMSIG(status);
    else
        throw std::runtime_error("the program neither exited nor was killed");
    if (!watch) run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
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
