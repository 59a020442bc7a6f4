// tallomer's command line after the program name: mode, N, input, output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "counting/count_request.h"

struct Arguments {
    Mode mode;
    std::int32_t n;
    std::string input;
    std::string output;
};

// The arguments, checked; on a bad mode or N the message says what is wrong
// and what is allowed.
struct ParsedArguments {
    std::optional<Arguments> arguments;
    std::string error;
};
ParsedArguments parseArguments(const char* mode, const char* n, const char* input, const char* output);
