#include "runs/threaded_merge.h"

#include <algorithm>

#include "formats/count_lines.h"
#include "runs/group_merge.h"
#include "runs/ordered_output.h"
#include "runs/record_blocks.h"

namespace {

// Ranges held ahead of their turn past this much a thread go to temporary
// files: held blocks are reused once written, and more fresh memory costs
// more in page faults than it saves.
constexpr std::int64_t MostHeldBytesPerThread = std::int64_t{64} << 20;
// The sources a thread is given buffers for at the least, when choosing
// how many threads the memory allows: more merge in groups.
constexpr std::size_t LeastSourcesPerThread = 64;
// A range opens every source that is `reopened` again, reads its header and
// its index up to the range: at least this much of the output a source,
// so that those reads stay a small part of the range's.
constexpr std::int64_t LeastRangeBytesPerSource = std::int64_t{4} << 20;
// Ranges a thread at least, and in all at most.
constexpr std::size_t LeastRangesPerThread = 4, MostRanges = 4096;

// Merges one range into `lines` (CountLines, or RecordBlocks for a reader
// of the entries).
template <typename Lines>
MergeTotals mergeRange(std::size_t sources, const RangeOpener& open, const KeyRange& range,
                       const ThreadedMergePlan& plan, std::int64_t leastCount, Lines& lines,
                       const std::string& outputPath) {
    std::vector<SourceOpener> openers;
    for (std::size_t source = 0; source < sources; ++source)
        openers.push_back([&open, &range, source](std::size_t bytes) { return open(source, range, bytes); });
    MergeTotals totals;
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

std::size_t rangesFor(const ThreadedMergePlan& plan, std::int64_t outputBytes, std::size_t reopened) {
    if (plan.threads == 1) return 1;
    auto threads = static_cast<std::int64_t>(plan.threads);
    outputBytes = std::max<std::int64_t>(outputBytes, 0);
    std::int64_t wanted = outputBytes / std::max<std::int64_t>(plan.heldBytes, 1) * 2 * threads;
    if (reopened > 0)
        wanted =
            std::min(wanted, outputBytes / (static_cast<std::int64_t>(reopened) * LeastRangeBytesPerSource));
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

namespace {

MergeTotals sumOf(const std::vector<MergeTotals>& totals) {
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

// Merges every range into the lines that make(sink) gives, on the plan's
// threads, their bytes handed to `output` in order.
template <typename MakeLines>
MergeTotals mergeRangesInOrder(std::size_t sources, const RangeOpener& open,
                               const std::vector<KeyRange>& ranges, const ThreadedMergePlan& plan,
                               const OrderedBytes& output, const std::string& outputPath,
                               std::int64_t leastCount, MakeLines make) {
    std::vector<MergeTotals> totals(ranges.size());
    OrderedOutput ordered(output, ranges.size(), plan.window, plan.heldBytes, plan.limits.temporaryFolder);
    producePiecesInOrder(ordered, ranges.size(), plan.threads, [&](std::size_t range, BlockSink& sink) {
        auto lines = make(sink);
        totals[range] = mergeRange(sources, open, ranges[range], plan, leastCount, lines, outputPath);
        lines.finish();
    });
    return sumOf(totals);
}

}  // namespace

MergeTotals writeMergedRanges(std::size_t sources, const RangeOpener& open,
                              const std::vector<KeyRange>& ranges, const ThreadedMergePlan& plan,
                              OutputFile& output, const std::string& outputPath, std::int64_t leastCount) {
    if (plan.threads == 1 || ranges.size() == 1) {
        std::vector<MergeTotals> totals(ranges.size());
        OutputFileSink sink(output);
        CountLines lines(sink);
        for (std::size_t range = 0; range < ranges.size(); ++range)
            totals[range] = mergeRange(sources, open, ranges[range], plan, leastCount, lines, outputPath);
        lines.finish();
        return sumOf(totals);
    }
    return mergeRangesInOrder(
        sources, open, ranges, plan, [&](std::string_view bytes) { output.write(bytes); }, outputPath,
        leastCount, [](BlockSink& sink) { return CountLines(sink); });
}

MergeTotals visitMergedRanges(std::size_t sources, const RangeOpener& open,
                              const std::vector<KeyRange>& ranges, const ThreadedMergePlan& plan,
                              const std::string& outputPath,
                              const std::function<void(std::string_view text, std::int64_t count)>& visit) {
    if (plan.threads == 1 || ranges.size() == 1) {
        struct Direct {
            const std::function<void(std::string_view, std::int64_t)>& visit;
            void add(std::string_view text, std::int64_t count) { visit(text, count); }
        } direct{visit};
        std::vector<MergeTotals> totals(ranges.size());
        for (std::size_t range = 0; range < ranges.size(); ++range)
            totals[range] = mergeRange(sources, open, ranges[range], plan, 1, direct, outputPath);
        return sumOf(totals);
    }
    RecordReplay replay(visit);
    return mergeRangesInOrder(
        sources, open, ranges, plan, [&](std::string_view bytes) { replay.write(bytes); }, outputPath, 1,
        [](BlockSink& sink) { return RecordBlocks(sink); });
}
