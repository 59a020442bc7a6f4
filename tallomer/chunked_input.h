// The input in chunks: only one chunk of it is in memory at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>

#include "tallomer/arguments.h"

// The most bytes of the input held in memory at once.
inline constexpr std::int64_t ChunkSize = 100'000'000;
// Both scans print a progress dot near every multiple of this position.
inline constexpr std::int64_t ProgressInterval = 10'000'000;

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
    // The bytes read for chunk k: the chunk and up to `lookahead` bytes of
    // the file after it.
    std::int64_t readLength(std::int64_t k, std::int64_t lookahead) const {
        return std::min(length(k) + lookahead, fileSize - start(k));
    }
};
ChunkPlan planChunks(std::int64_t fileSize, std::int64_t chunkSize);

// "Filesize: " line: the size in MB in the stream's default six digits.
void printFileSize(std::ostream& console, std::int64_t bytes);

// Called with the bytes counting needs at least, before the chunk buffer
// is made; throws when the limits do not allow them.
using MemoryCheck = std::function<void(std::int64_t neededBytes)>;

// Loads the input chunk by chunk and counts its n-grams into the table,
// printing the size, the chunk messages and the progress dots.
void countInput(const Arguments& arguments, std::int64_t chunkSize, std::ostream& console,
                const MemoryCheck& checkMemory = {});
