// Helpers for tests that run a program as a user would: arguments,
// standard input from a file, standard output and error captured.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the program with the arguments; standard input comes from
// `stdinPath` (by default /dev/null, so a closing pause ends at once); an
// empty path runs the program with standard input closed.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& stdinPath = "/dev/null");

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
