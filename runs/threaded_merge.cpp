#include "runs/threaded_merge.h"

#include <algorithm>
#include <vector>

#include "runs/merge_policy.h"
#include "runs/ordered_output.h"

ThreadedMergePlan planThreadedMerge(std::size_t sources, int cpus, std::int64_t memoryBudget,
                                    const std::string& temporaryFolder) {
    ThreadedMergePlan plan;
    std::int64_t held = memoryBudget / 4;
    // A thread's smallest share: its sources' buffers, its block, and the
    // buffer of a piece that spills.
    std::int64_t smallest =
        static_cast<std::int64_t>(std::min<std::size_t>(sources, 64) * (SmallestReadBuffer + SourceBytes)) +
        MergeOwnBytes + CountLines::BlockBytes;
    std::int64_t fitting = std::max<std::int64_t>((memoryBudget - held) / smallest, 1);
    plan.threads = static_cast<std::size_t>(std::clamp<std::int64_t>(fitting, 1, std::max(cpus, 1)));
    if (plan.threads == 1) {
        plan.limits = mergeLimitsFor(sources, memoryBudget, temporaryFolder);
        return plan;
    }
    plan.pieces = 4 * plan.threads;
    plan.window = 2 * plan.threads;
    plan.heldBytes = held;
    std::int64_t share = (memoryBudget - held) / static_cast<std::int64_t>(plan.threads) - MergeOwnBytes -
                         static_cast<std::int64_t>(CountLines::BlockBytes);
    plan.limits = mergeLimitsFor(sources, share, temporaryFolder, plan.threads, plan.window);
    return plan;
}

namespace {

MergeTotals writeMergedCounts(const std::vector<SourceOpener>& sources, const MergeLimits& limits,
                              BlockSink& sink, const std::string& outputPath) {
    MergeTotals totals;
    CountLines lines(sink);
    totals.temporaryBytesPeak =
        mergeInGroups(sources, limits, outputPath, [&](std::string_view text, std::int64_t count) {
            lines.add(text, count);
            ++totals.distinct;
            totals.total += static_cast<std::uint64_t>(count);
        });
    lines.finish();
    return totals;
}

}  // namespace

MergeTotals writeMergedPieces(std::size_t sources, const PieceOpener& open, const ThreadedMergePlan& plan,
                              OutputFile& output, const std::string& outputPath) {
    auto openersOf = [&](std::size_t piece) {
        std::vector<SourceOpener> openers;
        for (std::size_t source = 0; source < sources; ++source)
            openers.push_back(
                [&open, piece, source](std::size_t bytes) { return open(piece, source, bytes); });
        return openers;
    };
    if (plan.pieces == 1) {
        OutputFileSink sink(output);
        return writeMergedCounts(openersOf(0), plan.limits, sink, outputPath);
    }

    OrderedOutput ordered(output, plan.pieces, plan.window, plan.heldBytes, plan.limits.temporaryFolder);
    std::vector<MergeTotals> totals(plan.pieces);
    producePiecesInOrder(ordered, plan.pieces, plan.threads, [&](std::size_t piece, BlockSink& sink) {
        totals[piece] = writeMergedCounts(openersOf(piece), plan.limits, sink, outputPath);
    });
    MergeTotals sum;
    for (const MergeTotals& piece : totals) {
        sum.distinct += piece.distinct;
        sum.total += piece.total;
        sum.temporaryBytesPeak = std::max(sum.temporaryBytesPeak, piece.temporaryBytesPeak);
    }
    return sum;
}
