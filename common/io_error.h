// The one failure every program reports the same way: a file (or folder)
// and why, as "PROGRAM: PATH: reason" on standard error.
#pragma once

#include <stdexcept>
#include <string>

struct IoError : std::runtime_error {
    IoError(std::string path, const std::string& reason)
        : std::runtime_error(reason), path(std::move(path)) {}
    std::string path;
};

// The reason text of the current errno, for IoError.
std::string systemReason();
