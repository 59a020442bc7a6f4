// The main flow of tallomer: arguments, chunked loading, counting, the
// count file, the closing pause.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

inline constexpr std::int64_t ChunkSize = 100'000'000;
inline constexpr int MaxCharacterN = 19;
// Larger N would push the word scan's margin (N x 25) past 32 bits.
inline constexpr std::int64_t MaxWordN = 85'899'345;

enum class Mode { Characters, Words };

struct Arguments {
    Mode mode;
    std::int32_t n;
    std::string input;
    std::string output;
};

// The arguments after the program name, checked; on a bad mode or N the
// message says what is wrong and what is allowed.
struct ParsedArguments {
    std::optional<Arguments> arguments;
    std::string error;
};
ParsedArguments parseArguments(const char* mode, const char* n, const char* input, const char* output);

// Chunk k (from 0) starts at k x chunkSize; all but the last are full, and
// the last holds the rest, which is empty for an exact multiple above one
// chunk.
struct ChunkPlan {
    std::int64_t fileSize;
    std::int64_t chunkSize;
    std::int64_t count;
    std::int64_t start(std::int64_t k) const { return k * chunkSize; }
    std::int64_t length(std::int64_t k) const {
        return k + 1 < count ? chunkSize : fileSize - (count - 1) * chunkSize;
    }
};
ChunkPlan planChunks(std::int64_t fileSize, std::int64_t chunkSize);

// "Filesize: " line: the size in MB in the stream's default six digits.
void printFileSize(std::ostream& console, std::int64_t bytes);

// Loads the input chunk by chunk and counts its n-grams into the table,
// printing the size, the chunk messages and the progress dots.
void countInput(const Arguments& arguments, std::int64_t chunkSize, std::ostream& console);

// The whole program; returns its exit code.
int runTallomer(int argc, const char* const* argv);
