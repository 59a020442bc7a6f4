// The input in chunks: only one chunk of it is in memory at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/byte_stream.h"
#include "common/memory_budget.h"
#include "counting/arguments.h"
#include "counting/count_request.h"
#include "counting/counting_console.h"
#include "counting/ngram_count_table.h"

// Chunk k (from 0) starts at origin + k x chunkSize; all but the last are
// full, and the last holds the rest up to `end`. A whole run's chunks cover
// [0, fileSize), the last empty for an exact multiple above one chunk.
struct ChunkPlan {
    std::int64_t fileSize;
    std::int64_t chunkSize;
    std::int64_t count;
    std::int64_t origin = 0;
    std::int64_t end = fileSize;
    std::int64_t start(std::int64_t k) const { return origin + k * chunkSize; }
    std::int64_t length(std::int64_t k) const { return k + 1 < count ? chunkSize : end - start(count - 1); }
    // The bytes read for chunk k: the chunk and up to `lookahead` bytes of
    // the file after it.
    std::int64_t readLength(std::int64_t k, std::int64_t lookahead) const {
        return std::min(length(k) + lookahead, fileSize - start(k));
    }
};
ChunkPlan planChunks(std::int64_t fileSize, std::int64_t chunkSize);

// The n-grams counted by a part run: those that start in [from, to).
struct StartRange {
    std::int64_t from = 0;
    std::int64_t to = 0;
};

// The chunks of a part run, from `from` on: in word mode, where the range's
// ends are chunk starts or the file's end, exactly the whole run's chunks
// that start in the range.
ChunkPlan planRangeChunks(std::int64_t fileSize, std::int64_t chunkSize, StartRange range);

// Why a range cannot be counted as its share of a whole run, or empty when
// it can: 0 <= from <= to <= fileSize, and in word mode both ends chunk
// starts or the file's end, as each chunk's words are scanned on their own
// (a cut elsewhere would lose or split words).
std::string rangeRefusal(Mode mode, StartRange range, std::int64_t fileSize, std::int64_t chunkSize);

// Called with the bytes counting needs at least, before the chunk buffer
// is made; throws when the limits do not allow them.
using MemoryCheck = std::function<void(std::int64_t neededBytes)>;
// The check against `budget`: too little is told at start, not as a failure
// after the work, as "needs at least N MB, the limits allow M MB" about
// the input.
MemoryCheck memoryCheckWithin(const MemoryLimits& limits, std::int64_t budget, const std::string& input);

// Loads the input chunk by chunk and counts its n-grams into the table,
// telling the console its size, each chunk, the dots and the bytes counted.
void countInput(NGramCountTable& table, const Arguments& arguments, std::int64_t chunkSize,
                const CountingConsole& console, const MemoryCheck& checkMemory = {});

// countInput for the n-grams that start in bytes [from, to) of the input
// only (no `to`: to its end), each counted exactly as a whole run counts
// it: in character mode the windows that start there, read up to N - 1
// bytes past `to`. Throws IoError naming the input with rangeRefusal's
// reason. Returns the input's size.
std::int64_t countInputRange(NGramCountTable& table, const Arguments& arguments, std::int64_t from,
                             std::optional<std::int64_t> to, std::int64_t chunkSize,
                             const CountingConsole& console, const MemoryCheck& checkMemory = {});

// countInput for the bytes of a stream, read once, front to back: the same
// counts as of a file of its bytes. `heldAside` bytes of the budget are the
// stream's own. Tells neither a size nor chunks, as the stream's size is
// known only at its end; returns it.
std::int64_t countStream(NGramCountTable& table, const Arguments& arguments, ByteStream& stream,
                         std::int64_t chunkSize, const CountingConsole& console, std::int64_t heldAside = 0,
                         const MemoryCheck& checkMemory = {});
