// The one way the programs report a failure: "program: path: reason" on
// standard error, after whatever standard output still holds.
#pragma once

#include <iostream>
#include <string_view>

inline void reportFailure(std::string_view program, std::string_view path, std::string_view reason) {
    std::cout.flush();
    std::cerr << program << ": ";
    if (!path.empty()) std::cerr << path << ": ";
    std::cerr << reason << std::endl;
}
