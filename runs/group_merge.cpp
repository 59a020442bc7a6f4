#include "runs/group_merge.h"

#include <algorithm>

#include "common/output_file.h"
#include "formats/count_lines.h"
#include "runs/count_merge.h"
#include "runs/merge_policy.h"

namespace {

class CountMerge {
public:
    CountMerge(const MergeLimits& limits, const std::string& outputPath)
        : limits_(limits), outputPath_(outputPath) {}

    MergeTotals write(const std::vector<SourceOpener>& sources, BlockSink& sink) {
        MergeTotals totals;
        CountLines lines(sink);
        merge(fewEnough(sources), [&](std::string_view text, std::int64_t count) {
            lines.add(text, count);
            ++totals.distinct;
            totals.total += static_cast<std::uint64_t>(count);
        });
        lines.finish();
        totals.temporaryBytesPeak = temporaryPeak_;
        return totals;
    }

private:
    using Runs = std::vector<std::shared_ptr<Run>>;

    // Groups of half the descriptors, each into a run, and the runs merged
    // as they pile up (see boundRuns).
    std::vector<SourceOpener> fewEnough(const std::vector<SourceOpener>& sources) {
        if (sources.size() <= limits_.openAtOnce) return sources;
        std::size_t group = limits_.openAtOnce / 2;
        Runs runs;
        for (std::size_t start = 0; start < sources.size(); start += group) {
            std::size_t end = std::min(sources.size(), start + group);
            runs.push_back(intoRun({sources.begin() + static_cast<std::ptrdiff_t>(start),
                                    sources.begin() + static_cast<std::ptrdiff_t>(end)},
                                   runs));
            boundRuns(runs, group);
        }
        std::vector<SourceOpener> openers;
        for (const auto& run : runs) openers.push_back(openerOf(run));
        return openers;
    }

    // As tallomer's run store does: all runs merged into one when together
    // they pass twice the largest (parts that share their texts give runs
    // of about the range's output each), and the smaller half when they
    // would take the other half of the descriptors. So the runs take at
    // most about twice the range's output between merges, four times while
    // one is merged, and a text is merged again only once as many bytes
    // again have piled up beside it.
    void boundRuns(Runs& runs, std::size_t group) {
        for (;;) {
            std::int64_t total = 0, largest = 0;
            for (const auto& run : runs) {
                total += run->size();
                largest = std::max(largest, run->size());
            }
            if (runs.size() >= 2 && runs.size() + 1 >= group) {
                std::stable_sort(runs.begin(), runs.end(),
                                 [](const auto& a, const auto& b) { return a->size() < b->size(); });
                mergeFirst(runs, std::max<std::size_t>(2, runs.size() / 2));
            } else if (runs.size() >= 2 && total > 2 * largest) {
                mergeFirst(runs, runs.size());
            } else {
                return;
            }
        }
    }

    void mergeFirst(Runs& runs, std::size_t count) {
        Runs merged(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(count));
        std::vector<SourceOpener> openers;
        for (const auto& run : merged) openers.push_back(openerOf(run));
        std::shared_ptr<Run> into = intoRun(openers, runs);
        runs.erase(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(count));
        runs.push_back(std::move(into));
    }

    // `onDisk`: the runs on disk beside it, for the peak.
    std::shared_ptr<Run> intoRun(const std::vector<SourceOpener>& sources, const Runs& onDisk) {
        auto run = std::make_shared<Run>(limits_.temporaryFolder);
        RunWriter writer(*run);
        merge(sources, [&](std::string_view text, std::int64_t count) { writer.add(text, count); });
        writer.finish();
        std::int64_t bytes = run->size();
        for (const auto& other : onDisk) bytes += other->size();
        temporaryPeak_ = std::max(temporaryPeak_, bytes);
        return run;
    }

    static SourceOpener openerOf(std::shared_ptr<Run> run) {
        return [run](std::size_t bufferBytes) { return std::make_unique<RunReader>(*run, bufferBytes); };
    }

    template <typename Visit>
    void merge(const std::vector<SourceOpener>& openers, Visit&& visit) {
        std::vector<std::unique_ptr<CountSource>> open;
        std::vector<CountSource*> sources;
        for (const SourceOpener& opener : openers) {
            open.push_back(opener(limits_.bufferBytes));
            sources.push_back(open.back().get());
        }
        mergeCountsWith(
            sources,
            [this](std::int64_t sum, std::int64_t count) {
                if (__builtin_add_overflow(sum, count, &sum)) [[unlikely]]
                    overflow();
                return sum;
            },
            visit);
    }

    [[noreturn]] void overflow() const {
        throw IoError(outputPath_,
                      "a text's counts add up to more than 9223372036854775807, "
                      "the largest count a count file holds");
    }

    const MergeLimits& limits_;
    const std::string& outputPath_;
    std::int64_t temporaryPeak_ = 0;
};

}  // namespace

MergeLimits mergeLimitsFor(std::size_t sources, std::int64_t memoryBudget, const std::string& temporaryFolder,
                           std::size_t merges, std::size_t otherFiles) {
    std::size_t budget = static_cast<std::size_t>(std::max<std::int64_t>(memoryBudget, 0));
    std::size_t bufferBytes = readBufferShare(memoryBudget, sources);
    // A run being written holds a buffer of its own beside its readers'.
    std::size_t fitting = std::max<std::size_t>(budget / (bufferBytes + SourceBytes), 1) - 1;
    std::size_t left = openFilesLeft();
    left = (left > otherFiles ? left - otherFiles : 0) / std::max<std::size_t>(merges, 1);
    return {std::max<std::size_t>(6, std::min(left, fitting)), bufferBytes, temporaryFolder};
}

MergeTotals writeMergedCounts(const std::vector<SourceOpener>& sources, const MergeLimits& limits,
                              OutputFile& output, const std::string& outputPath) {
    OutputFileSink sink(output);
    return CountMerge(limits, outputPath).write(sources, sink);
}

MergeTotals writeMergedCounts(const std::vector<SourceOpener>& sources, const MergeLimits& limits,
                              BlockSink& sink, const std::string& outputPath) {
    return CountMerge(limits, outputPath).write(sources, sink);
}
