// The sorted runs of one count, the share of the memory budget each use of
// memory gets, and what spilling cost.
//
// Disk runs are merged as they come, not only at the end (runs/group_merge.h):
// each holds a file open, and spills of the same texts (repeated input)
// would each take disk again. So there are never as many as one merge
// opens, and together they take at most about twice the largest run, which
// is at most about the count file's size (a run's record is never longer
// than the text's line), and a merge writes one more.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runs/group_merge.h"
#include "runs/piecewise_run.h"
#include "runs/run_format.h"
#include "runs/split_points.h"

// What counting may use: `budget` bytes of memory in all, of which
// reserve() names what others hold; temporary runs go to
// `temporaryFolder`; a merge reads at most `maxMergeWidth` runs at once;
// `threads` share the work and the one budget.
struct CountingLimits {
    std::int64_t budget;
    std::string temporaryFolder;
    // Enough that a merge of a thousand runs takes two levels, few enough
    // that each run's read buffer stays large within a small budget.
    std::size_t maxMergeWidth = 64;
    int threads = 1;
};

struct CountingStatistics {
    std::int64_t runsSpilled = 0;
    std::int64_t temporaryBytesPeak = 0;
};

class RunStore {
public:
    RunStore();
    // Without runs, within the limits.
    void clear();
    void configure(const CountingLimits& limits);
    // Memory within the budget held outside the counting structures.
    void reserve(std::int64_t bytes) { reserved_ = bytes; }

    // Of what the budget leaves after the reserve, two fifths for the
    // table or a producer's sort buffers, two for the in-memory runs, one
    // for the buffers of merges and temporary files.
    std::int64_t working() const { return std::max<std::int64_t>(available() / 5 * 2, 64 << 10); }

    // A run written in order: begin, each text once with its count, end.
    // A run that no longer fits in memory goes to disk as it is written.
    void begin(std::int64_t largestBytes);
    void add(std::string_view text, std::int64_t count) { openWriter_->add(text, count); }
    void end();
    // The whole of a source as one run.
    void addRun(CountSource& source, std::int64_t largestBytes);
    // A list in pieces as one run, its pieces coded on every thread.
    void addRun(const PiecewiseSource& source);

    // Merges disk runs in groups until every run fits in one merge with
    // `others` more sources.
    void mergeDownTo(std::size_t others);
    // Readers of every run, for the final merge; when `merges` of them read
    // at once, their readers share half the buffers' memory.
    void openAll(std::vector<std::unique_ptr<CountSource>>& readers, std::size_t merges = 1) const;
    // Every run, for a merge that opens them itself.
    std::vector<const Run*> allRuns() const;
    // The memory of the final merge's buffers.
    std::int64_t mergeMemory() const { return available() / 5; }
    const std::string& temporaryFolder() const { return limits_.temporaryFolder; }
    // Every run's checkpoint texts, each weighted by the entries from it to
    // the next.
    void sampleTexts(std::vector<WeightedText>& texts) const;

    CountingStatistics statistics() const;
    int threads() const { return std::max(limits_.threads, 1); }

private:
    std::int64_t available() const { return std::max<std::int64_t>(limits_.budget - reserved_, 0); }
    std::int64_t runsLimit() const { return std::max<std::int64_t>(available() / 5 * 2, 64 << 10); }
    // The width and buffers of the store's merges, as of now.
    MergeLimits mergeLimits() const;
    std::size_t blockBytes() const;
    // The disk runs, made afresh when the limits change.
    RunPile& disk();
    std::unique_ptr<Run> mergedMemoryRuns(std::unique_ptr<Run> into);
    void spillMemoryRuns();
    void compactMemoryRuns();

    BlockPool pool_;  // before the runs, which give their blocks back to it
    CountingLimits limits_{std::int64_t{1} << 40, "/tmp", 64};
    std::int64_t reserved_ = 0;
    std::vector<std::unique_ptr<Run>> memoryRuns_;
    std::unique_ptr<RunPile> disk_;
    std::unique_ptr<Run> openRun_;
    std::unique_ptr<RunWriter> openWriter_;
    std::string overflowPath_ = "temporary file";
};
