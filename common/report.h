// The one way the programs report a failure: "program: path: reason" on
// standard error, after whatever standard output still holds.
#pragma once

#include <iostream>
#include <new>
#include <string_view>

#include "common/file_io.h"
#include "common/shown_path.h"

// The path as shownPath shows it: an empty one as '', so that a user sees
// which argument it was, one with control bytes quoted with escapes.
inline void reportFailure(std::string_view program, std::string_view path, std::string_view reason) {
    std::cout.flush();
    std::cerr << program << ": " << shownPath(path) << ": " << reason << std::endl;
}

// A command line that makes no sense: "program: reason".
inline void reportArgumentError(std::string_view program, std::string_view reason) {
    std::cout.flush();
    std::cerr << program << ": " << reason << std::endl;
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
