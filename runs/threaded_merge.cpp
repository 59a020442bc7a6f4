#include "runs/threaded_merge.h"

#include <algorithm>

#include "formats/count_lines.h"
#include "runs/group_merge.h"
#include "runs/ordered_output.h"

namespace {

// Ranges held ahead of their turn past this much a thread go to temporary
// files: held blocks are reused once written, and more fresh memory costs
// more in page faults than it saves.
constexpr std::int64_t MostHeldBytesPerThread = std::int64_t{64} << 20;
// The sources a thread is given buffers for at the least, when choosing
// how many threads the memory allows: more merge in groups.
constexpr std::size_t LeastSourcesPerThread = 64;
// Ranges a thread at least, and in all at most.
constexpr std::size_t LeastRangesPerThread = 4, MostRanges = 4096;

MergeTotals mergeRange(std::size_t sources, const RangeOpener& open, const KeyRange& range,
                       const ThreadedMergePlan& plan, std::int64_t leastCount, BlockSink& sink,
                       const std::string& outputPath) {
    std::vector<SourceOpener> openers;
    for (std::size_t source = 0; source < sources; ++source)
        openers.push_back([&open, &range, source](std::size_t bytes) { return open(source, range, bytes); });
    MergeTotals totals;
    CountLines lines(sink);
    totals.temporaryBytesPeak =
        mergeInGroups(openers, plan.limits, outputPath, [&](std::string_view text, std::int64_t count) {
            // The sum is final here: every source's count of the text is in it.
            if (count < leastCount) {
                ++totals.leftOutDistinct;
                totals.leftOutTotal += static_cast<std::uint64_t>(count);
                return;
            }
            lines.add(text, count);
            ++totals.distinct;
            totals.total += static_cast<std::uint64_t>(count);
        });
    lines.finish();
    return totals;
}

}  // namespace

ThreadedMergePlan planThreadedMerge(std::size_t sources, std::size_t cpus, std::int64_t memory,
                                    std::string temporaryFolder, bool sourcesOpen) {
    ThreadedMergePlan plan;
    cpus = std::max<std::size_t>(cpus, 1);
    std::int64_t held = std::min(memory / 4, MostHeldBytesPerThread * static_cast<std::int64_t>(cpus));
    std::int64_t smallest = static_cast<std::int64_t>(std::min(sources, LeastSourcesPerThread) *
                                                      (SmallestReadBuffer + SourceBytes)) +
                            MergeOwnBytes;
    std::int64_t fitting = std::max<std::int64_t>((memory - held) / smallest, 1);
    plan.threads =
        static_cast<std::size_t>(std::clamp<std::int64_t>(fitting, 1, static_cast<std::int64_t>(cpus)));
    if (plan.threads == 1) {
        plan.limits =
            mergeLimitsFor(sources, memory, std::move(temporaryFolder), 1, 0, MostOpenFiles, sourcesOpen);
        return plan;
    }
    auto threads = static_cast<std::int64_t>(plan.threads);
    plan.window = 2 * plan.threads;
    plan.heldBytes = std::min(memory / 4, MostHeldBytesPerThread * threads);
    std::int64_t share = (memory - plan.heldBytes) / threads - MergeOwnBytes;
    // A held range that spills holds a descriptor.
    plan.limits = mergeLimitsFor(sources, share, std::move(temporaryFolder), plan.threads, plan.window,
                                 MostOpenFiles, sourcesOpen);
    return plan;
}

std::size_t rangesFor(const ThreadedMergePlan& plan, std::int64_t outputBytes) {
    if (plan.threads == 1) return 1;
    auto threads = static_cast<std::int64_t>(plan.threads);
    std::int64_t wanted =
        std::max<std::int64_t>(outputBytes, 0) / std::max<std::int64_t>(plan.heldBytes, 1) * 2 * threads;
    return static_cast<std::size_t>(
        std::clamp<std::int64_t>(wanted, static_cast<std::int64_t>(LeastRangesPerThread) * threads,
                                 static_cast<std::int64_t>(MostRanges)));
}

std::vector<KeyRange> piecesOf(const SplitPoints& points, std::int64_t k, std::int64_t ranges,
                               std::size_t pieces) {
    std::vector<KeyRange> cut;
    auto each = static_cast<std::int64_t>(pieces);
    for (std::int64_t j = 1; j <= each; ++j) cut.push_back(points.range((k - 1) * each + j, ranges * each));
    return cut;
}

MergeTotals writeMergedRanges(std::size_t sources, const RangeOpener& open,
                              const std::vector<KeyRange>& ranges, const ThreadedMergePlan& plan,
                              OutputFile& output, const std::string& outputPath, std::int64_t leastCount) {
    std::vector<MergeTotals> totals(ranges.size());
    if (plan.threads == 1 || ranges.size() == 1) {
        OutputFileSink sink(output);
        for (std::size_t range = 0; range < ranges.size(); ++range)
            totals[range] = mergeRange(sources, open, ranges[range], plan, leastCount, sink, outputPath);
    } else {
        OrderedOutput ordered(output, ranges.size(), plan.window, plan.heldBytes,
                              plan.limits.temporaryFolder);
        producePiecesInOrder(ordered, ranges.size(), plan.threads, [&](std::size_t range, BlockSink& sink) {
            totals[range] = mergeRange(sources, open, ranges[range], plan, leastCount, sink, outputPath);
        });
    }
    MergeTotals sum;
    for (const MergeTotals& range : totals) {
        sum.distinct += range.distinct;
        sum.total += range.total;
        sum.leftOutDistinct += range.leftOutDistinct;
        sum.leftOutTotal += range.leftOutTotal;
        sum.temporaryBytesPeak = std::max(sum.temporaryBytesPeak, range.temporaryBytesPeak);
    }
    return sum;
}
