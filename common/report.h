// The one way the programs report a failure: "program: path: reason" on
// standard error, after whatever standard output still holds.
#pragma once

#include <iostream>
#include <new>
#include <string_view>

#include "common/file_io.h"

inline void reportFailure(std::string_view program, std::string_view path, std::string_view reason) {
    std::cout.flush();
    std::cerr << program << ": ";
    if (!path.empty()) std::cerr << path << ": ";
    std::cerr << reason << std::endl;
}

// Runs the program's work. A file that fails, or memory that runs out while
// working on `path`, is reported and gives exit code 2; otherwise 0.
template <typename Work>
int runReportingFailures(std::string_view program, std::string_view path, std::string_view outOfMemory,
                         Work work) {
    try {
        work();
        return 0;
    } catch (const IoError& error) {
        reportFailure(program, error.path, error.what());
    } catch (const std::bad_alloc&) {
        reportFailure(program, path, outOfMemory);
    }
    return 2;
}

// A console that could not be written to is a failure too: exit code 2.
inline int checkStandardOutput(std::string_view program) {
    if (std::cout.flush()) return 0;
    reportFailure(program, "standard output", "write error");
    return 2;
}
