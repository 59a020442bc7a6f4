// What the fuzz targets that write files share: a failed check stops the
// run where the fuzzer sees it, and one scratch file a process, removed at
// exit.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

inline void require(bool condition) {
    if (!condition) __builtin_trap();
}

// Every count file is fsynced before it takes its name: on a memory file
// system that is free, on a disk it halves the executions. `Name` names the
// target, so that targets run at once do not share a file.
template <const char* Name>
const std::string& scratchPath() {
    static const std::string path = [] {
        std::atexit([] { std::remove(scratchPath<Name>().c_str()); });
        std::filesystem::path folder =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        return (folder / (std::string(Name) + "." + std::to_string(getpid()))).string();
    }();
    return path;
}
