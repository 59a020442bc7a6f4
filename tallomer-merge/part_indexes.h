// What a merge reads of every part before it writes: the headers, for the
// coverage check, and a bounded sample of the indexes, for the split
// points.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/progress_line.h"
#include "formats/part_index.h"
#include "runs/split_points.h"
#include "tallomer-merge/coverage.h"

// About the most texts sampled (one more per part at most), whatever the
// parts' size.
inline constexpr std::int64_t MostSampledTexts = std::int64_t{1} << 18;

// About the most index pages noted of all parts, for the merge's ranges
// to start their reads at (PartPages).
inline constexpr std::int64_t MostNotedPages = std::int64_t{1} << 14;

struct PartIndexes {
    std::vector<PartSummary> parts;
    std::vector<WeightedText> firstTexts;
    std::vector<PartPages> pages;  // each part's
};

// Opens every part, which checks its header and trailer, then reads each
// one's index through, which checks it, and samples it: the blocks of each
// part in runs of `stride`, each run weighted by its blocks' bytes at the
// indexed prefix of its middle block. The stride is the total of the parts'
// blocks over `mostSampled`, rounded up, so every task of a merge takes the
// same sample whatever the order of the parts and its memory; a stride of
// 1 samples every block. Of every part's index pages, one in a stride
// chosen the same way is noted, but for the first. Throws IoError naming a
// part that fails, and std::bad_alloc when what it keeps passes
// `memoryBudget`. The reading of
// the indexes is a phase of `progress`, in blocks, when one is given.
PartIndexes readPartIndexes(const std::vector<std::string>& paths, std::int64_t memoryBudget,
                            std::int64_t mostSampled = MostSampledTexts, ProgressLine* progress = nullptr);
