// Helpers for tests that run a program as a user would (arguments,
// standard input from a file, standard output and error captured), and the
// files they work on.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Called with the standard output seen so far, each time a line of it ends.
using OutputWatch = std::function<void(const std::string& seen)>;

// Runs the program with the arguments; standard input comes from
// `stdinPath` (by default /dev/null, so a closing pause ends at once); an
// empty path runs the program with standard input closed. With a watch,
// standard output is read as it comes, so the test can act during the run.
// A program killed by a signal gets the exit code 128 + the signal.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& stdinPath = "/dev/null", const OutputWatch& watch = {});

// The child starts with every signal at its default action, whatever the
// test runner ignores, so a program must ignore or handle them itself.

// Runs the program with `prepare` called in the child just before it
// starts (to set limits or signal dispositions).
ProgramRun runProgramPrepared(const std::string& program, const std::vector<std::string>& arguments,
                              const std::function<void()>& prepare);

// Runs the program with a file-size limit (RLIMIT_FSIZE) of `bytes`.
ProgramRun runProgramWithFileSizeLimit(const std::string& program, const std::vector<std::string>& arguments,
                                       std::int64_t bytes);

// Runs the program with standard error a terminal `columns` wide (a
// pseudo-terminal): `err` is every byte it wrote there.
ProgramRun runProgramWithTerminalError(const std::string& program, const std::vector<std::string>& arguments,
                                       int columns = 80);

// Runs the program with standard output a pipe that nobody reads; `out`
// stays empty.
ProgramRun runProgramWithClosedConsole(const std::string& program, const std::vector<std::string>& arguments);

// Runs the program and sends it `signal` while it writes an unnamed
// (O_TMPFILE) file in `folder`: the child is stopped when one shows among
// its open files, signalled, and let go on. Nothing when the program ended
// before that moment could be caught; the caller may try again. `prepare`
// as for runProgramPrepared.
std::optional<ProgramRun> runProgramSignalledWhileWriting(
    const std::string& program, const std::vector<std::string>& arguments, const std::string& folder,
    int signal, const std::function<void()>& prepare = [] {});

// Whether limits on the address space (RLIMIT_AS) work: AddressSanitizer
// and ThreadSanitizer reserve terabytes of it for their shadow memory.
inline bool addressSpaceLimitsWork() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return false;
#endif
#endif
    return true;
}

// The names in a folder, sorted.
std::vector<std::string> filesIn(const std::string& folder);
// The permission bits of a file.
int permissionsOf(const std::string& path);

// A fresh empty directory, removed with its contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return (root_ / name).string(); }

private:
    std::filesystem::path root_;
};

void writeFile(const std::string& path, const std::string& bytes);
// A sparse file: `head`, then zero bytes (a hole on disk), then `tail`, so
// that the file is `size` bytes long.
void writeSparseFile(const std::string& path, const std::string& head, std::int64_t size,
                     const std::string& tail);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
