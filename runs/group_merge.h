// The group merge: more sorted sources than one merge may read at once
// (runs/merge_policy.h) are merged in groups into runs on disk, and those
// runs are merged again as they pile up, so that the last merge, which
// hands its entries to a visitor, reads no more than one merge may. The
// run store's spilled runs pile up the same way.
//
// The rule for the pile: all its runs are merged into one when together
// they pass twice the largest (spills or groups that share their texts
// give runs of about the output's size each), and the smaller half when
// they would take the descriptors the next merge needs. So the runs take
// at most about twice the output between merges and four times while one
// is merged, and a text is merged again only once as many bytes again
// have piled up beside it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runs/count_merge.h"
#include "runs/merge_policy.h"
#include "runs/run_format.h"

// Opens a source, reading through a buffer of the given size, when its
// turn comes.
using SourceOpener = std::function<std::unique_ptr<CountSource>(std::size_t bufferBytes)>;

// Sums counts, a sum past 64 bits an IoError naming `path`.
struct CheckedSum {
    const std::string& path;
    std::int64_t operator()(std::int64_t sum, std::int64_t count) const {
        if (__builtin_add_overflow(sum, count, &sum)) [[unlikely]]
            overflow();
        return sum;
    }
    [[noreturn]] void overflow() const;
};

// The runs on disk of one merge, merged as they pile up.
class RunPile {
public:
    // Merges read up to limits.width runs; the pile keeps fewer than `most`
    // runs (at least 2), leaving the rest of the width to other sources.
    RunPile(const MergeLimits& limits, std::size_t most, const std::string& overflowPath);

    // A new run on disk, to be written and added.
    std::unique_ptr<Run> newRun();
    // Adds a finished run, then merges runs as the rule says.
    void add(std::unique_ptr<Run> run);
    // Merges the sources into a new run and adds it.
    void addMerged(const std::vector<SourceOpener>& sources);
    // Merges the `count` smallest runs (at least 2, at most the width) into one.
    void mergeSmallest(std::size_t count);

    const std::vector<std::unique_ptr<Run>>& runs() const { return runs_; }
    std::size_t size() const { return runs_.size(); }
    std::int64_t runsMade() const { return made_; }
    // The most bytes the runs took at once, a run being merged into included.
    std::int64_t bytesPeak() const { return peak_; }

private:
    void bound();
    std::unique_ptr<Run> merged(const std::vector<SourceOpener>& sources);

    MergeLimits limits_;
    std::size_t most_;
    std::string overflowPath_;
    std::vector<std::unique_ptr<Run>> runs_;
    std::int64_t bytes_ = 0, peak_ = 0, made_ = 0;
};

// A reader of a run of the pile.
SourceOpener openerOf(const Run& run);

// Hands every text of the sources to visit(text, count) once, in ascending
// order, with its counts summed (a sum past 64 bits an IoError naming
// overflowPath): one merge when they are no more than limits.width,
// else groups of half the width merged into a pile of runs first. Returns
// the most bytes the pile took on disk.
template <typename Visit>
std::int64_t mergeInGroups(const std::vector<SourceOpener>& sources, const MergeLimits& limits,
                           const std::string& overflowPath, Visit&& visit);

// Merges the sources in groups of `group` into runs of the pile.
void mergeGroups(const std::vector<SourceOpener>& sources, RunPile& pile, std::size_t group);

template <typename Visit>
std::int64_t mergeInGroups(const std::vector<SourceOpener>& sources, const MergeLimits& limits,
                           const std::string& overflowPath, Visit&& visit) {
    std::unique_ptr<RunPile> pile;
    const std::vector<SourceOpener>* last = &sources;
    std::vector<SourceOpener> runs;
    if (sources.size() > limits.width) {
        pile = std::make_unique<RunPile>(limits, limits.width / 2, overflowPath);
        mergeGroups(sources, *pile, limits.width / 2);
        for (const auto& run : pile->runs()) runs.push_back(openerOf(*run));
        last = &runs;
    }
    std::vector<std::unique_ptr<CountSource>> open;
    std::vector<CountSource*> readers;
    for (const SourceOpener& opener : *last) {
        open.push_back(opener(limits.bufferBytes));
        readers.push_back(open.back().get());
    }
    mergeCountsWith(readers, CheckedSum{overflowPath}, visit);
    return pile ? pile->bytesPeak() : 0;
}
