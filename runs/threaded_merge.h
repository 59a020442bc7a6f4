// A merge of many sources shared out over threads: the key range is cut
// into pieces, each merged and formatted by one thread, and the pieces are
// written to the output in order (runs/ordered_output.h). The output is
// the same bytes for any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/count_source.h"
#include "common/output_file.h"
#include "runs/group_merge.h"

struct MergeTotals {
    std::int64_t distinct = 0;
    // Within 64 bits: each count is, and their sum is at most the bytes of
    // all inputs.
    std::uint64_t total = 0;
    // The most bytes the temporary runs of group merges took at once.
    std::int64_t temporaryBytesPeak = 0;
};

// How a merge is shared out: its threads, the pieces the range is cut into,
// how many may be under way at once, and what each thread and the held
// pieces may use.
struct ThreadedMergePlan {
    std::size_t threads = 1, pieces = 1, window = 1;
    MergeLimits limits;  // of each thread
    std::int64_t heldBytes = 0;
};

// The threads of `cpus` that the memory budget gives each its buffers (at
// the smallest, for up to 64 sources) with a quarter of the budget left
// for the pieces held, and the pieces: one for one thread, else four a
// thread, of which twice the threads may be under way.
ThreadedMergePlan planThreadedMerge(std::size_t sources, int cpus, std::int64_t memoryBudget,
                                    const std::string& temporaryFolder);

// Opens source `source` of the merge restricted to piece `piece`.
using PieceOpener = std::function<std::unique_ptr<CountSource>(std::size_t piece, std::size_t source,
                                                               std::size_t bufferBytes)>;

// Writes the merge of `sources` sources, piece after piece, to the output.
// The first failure of any thread is thrown once all have stopped.
MergeTotals writeMergedPieces(std::size_t sources, const PieceOpener& open, const ThreadedMergePlan& plan,
                              OutputFile& output, const std::string& outputPath);
