// tallomer's command line after the program name: mode, N, input, output.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "counting/word_scanner.h"

// Character windows are sorted as keys of at most three 8-byte words.
inline constexpr int MaxCharacterN = 19;
// The word scan keeps N x WordMargin bytes free at a chunk's end, and chunk
// positions are 32-bit: a larger N would push that margin past them.
inline constexpr std::int64_t MaxWordN = std::numeric_limits<std::int32_t>::max() / WordMargin;

enum class Mode { Characters, Words };

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
