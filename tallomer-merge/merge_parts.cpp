#include "tallomer-merge/merge_parts.h"

#include <algorithm>

#include "common/count_file.h"

namespace {

// Descriptors kept free for the output, the console, a list file and the
// C++ runtime.
constexpr std::size_t DescriptorMargin = 16;
constexpr std::size_t LargestBuffer = 1 << 20, SmallestBuffer = 64 << 10;
// What an open source holds beside its buffer: a part's index page and
// current text, the reader itself.
constexpr std::size_t SourceBytes = 16 << 10;

std::size_t descriptorsLeft() {
    std::optional<DescriptorUse> use = descriptorUse();
    if (!use) return SIZE_MAX;
    return use->limit > use->open + DescriptorMargin ? use->limit - use->open - DescriptorMargin : 0;
}

class CountMerge {
public:
    CountMerge(const MergeLimits& limits, const std::string& outputPath)
        : limits_(limits), outputPath_(outputPath) {}

    MergeTotals write(const std::vector<SourceOpener>& sources, OutputFile& output) {
        MergeTotals totals;
        merge(fewEnough(sources), [&](std::string_view text, std::int64_t count) {
            writeCountEntry(output, text, count);
            ++totals.distinct;
            totals.total += static_cast<std::uint64_t>(count);
        });
        return totals;
    }

private:
    // Groups of half the descriptors, each into a run; the runs themselves
    // merged into one whenever they take the other half.
    std::vector<SourceOpener> fewEnough(const std::vector<SourceOpener>& sources) {
        if (sources.size() <= limits_.openAtOnce) return sources;
        std::size_t group = limits_.openAtOnce / 2;
        std::vector<SourceOpener> runs;
        for (std::size_t start = 0; start < sources.size(); start += group) {
            if (runs.size() + 1 >= group) runs = {intoRun(runs)};
            std::size_t end = std::min(sources.size(), start + group);
            runs.push_back(intoRun({sources.begin() + static_cast<std::ptrdiff_t>(start),
                                    sources.begin() + static_cast<std::ptrdiff_t>(end)}));
        }
        return runs;
    }

    SourceOpener intoRun(const std::vector<SourceOpener>& sources) {
        auto run = std::make_shared<Run>(limits_.temporaryFolder);
        RunWriter writer(*run);
        merge(sources, [&](std::string_view text, std::int64_t count) { writer.add(text, count); });
        writer.finish();
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
};

}  // namespace

MergeLimits mergeLimitsFor(std::size_t sources, std::int64_t memoryBudget,
                           const std::string& temporaryFolder) {
    std::size_t budget = static_cast<std::size_t>(std::max<std::int64_t>(memoryBudget, 0));
    std::size_t share = budget / std::max<std::size_t>(sources, 1);
    std::size_t bufferBytes = std::clamp(share, SmallestBuffer, LargestBuffer);
    // A run being written holds a buffer of its own beside its readers'.
    std::size_t fitting = std::max<std::size_t>(budget / (bufferBytes + SourceBytes), 1) - 1;
    return {std::max<std::size_t>(6, std::min(descriptorsLeft(), fitting)), bufferBytes, temporaryFolder};
}

MergeTotals writeMergedCounts(const std::vector<SourceOpener>& sources, const MergeLimits& limits,
                              OutputFile& output, const std::string& outputPath) {
    return CountMerge(limits, outputPath).write(sources, output);
}
