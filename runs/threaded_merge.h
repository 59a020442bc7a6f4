// The merge of sorted sources into count-file lines, shared out over
// threads by key ranges: the texts are cut into ranges at split points
// taken from the sources' own keys (runs/split_points.h), each range is
// merged (runs/group_merge.h) and formatted (formats/count_lines.h) by one
// thread, every source read from the range's start, and the ranges are
// written in order (runs/ordered_output.h). The same bytes for any number
// of threads: the ranges part the texts, and each range's merge lists its
// texts in order. tallomer's final merge and tallomer-merge both go
// through it; with one thread it is one range written straight out. A
// least count leaves out the texts whose sum is below it, in the range's
// own thread, so the bytes stay the same for any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/count_source.h"
#include "common/output_file.h"
#include "runs/merge_policy.h"
#include "runs/split_points.h"

struct MergeTotals {
    std::int64_t distinct = 0;
    // Within 64 bits: each count is, and their sum is at most the bytes of
    // all inputs.
    std::uint64_t total = 0;
    // The texts left out below the least count, and their counts.
    std::int64_t leftOutDistinct = 0;
    std::uint64_t leftOutTotal = 0;
    // The most bytes the temporary runs of group merges took at once.
    std::int64_t temporaryBytesPeak = 0;
};

// How a merge is shared out: its threads, how many ranges may be under way
// at once, what each thread's merge may use, and the memory for the ranges
// formatted ahead of their turn.
struct ThreadedMergePlan {
    std::size_t threads = 1, window = 1;
    MergeLimits limits;
    std::int64_t heldBytes = 0;
};

// The threads of `cpus` that `memory` gives each the smallest buffers (for
// up to 64 sources) beside the ranges held, a quarter of the memory and at
// most 64 MiB a thread; of which twice the threads of ranges may be under
// way. `sourcesOpen`: the sources' files are open already and shared by
// every reader (parts kept open, runs), so that only the runs of group
// merges and the held ranges spilled take descriptors.
ThreadedMergePlan planThreadedMerge(std::size_t sources, std::size_t cpus, std::int64_t memory,
                                    std::string temporaryFolder, bool sourcesOpen);

// The ranges a merge whose output is about `outputBytes` is cut into: one
// for one thread; else ranges of about half what a thread may hold ahead
// of its turn, so that they seldom spill, at least four a thread (a slow
// range holds up no more than the window), at most 4096; fewer where each
// range opens `reopened` sources again (parts read from their files), so
// that each range has a few MiB of output a source.
std::size_t rangesFor(const ThreadedMergePlan& plan, std::int64_t outputBytes, std::size_t reopened = 0);

// Range k of K of the texts the split points weigh, cut into `pieces`
// ranges: pieces (k - 1) * pieces + 1 to k * pieces of K * pieces ranges,
// whose ends are those of the K ranges (the quantiles of the same weights)
// and more between them.
std::vector<KeyRange> piecesOf(const SplitPoints& points, std::int64_t k, std::int64_t ranges,
                               std::size_t pieces);

// A reader of source `source` over the range, through a buffer of
// `bufferBytes`: its entries from range.from on, before range.to.
using RangeOpener = std::function<std::unique_ptr<CountSource>(std::size_t source, const KeyRange& range,
                                                               std::size_t bufferBytes)>;

// Writes the merge of the sources, range after range, to the output, the
// texts whose summed count is below `leastCount` left out (1 keeps all).
// The first failure of any thread is thrown once all have stopped; a sum
// past 64 bits is an IoError naming outputPath.
MergeTotals writeMergedRanges(std::size_t sources, const RangeOpener& open,
                              const std::vector<KeyRange>& ranges, const ThreadedMergePlan& plan,
                              OutputFile& output, const std::string& outputPath, std::int64_t leastCount = 1);

// Hands every entry of the merge, in order, to `visit`, which is called by
// one thread at a time: the ranges are merged on the plan's threads, each
// coded as records in blocks (runs/record_blocks.h) and decoded in order.
MergeTotals visitMergedRanges(std::size_t sources, const RangeOpener& open,
                              const std::vector<KeyRange>& ranges, const ThreadedMergePlan& plan,
                              const std::string& outputPath,
                              const std::function<void(std::string_view text, std::int64_t count)>& visit);
