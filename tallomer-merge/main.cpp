// tallomer-merge: sums the part files of one or more inputs into the count
// file tallomer would write for them, or into the k-th of K key ranges of
// it, so that K tasks can write one count file together; with --min-count,
// the texts whose summed count is below it are left out.
#include <iostream>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/cpu_count.h"
#include "common/memory_budget.h"
#include "common/output_file.h"
#include "common/progress_line.h"
#include "common/replacement_file.h"
#include "common/report.h"
#include "common/shown_path.h"
#include "common/signal_cleanup.h"
#include "common/temporary_file.h"
#include "formats/part_file.h"
#include "runs/split_points.h"
#include "runs/threaded_merge.h"
#include "tallomer-merge/coverage.h"
#include "tallomer-merge/merge_arguments.h"
#include "tallomer-merge/part_indexes.h"
#include "tallomer-merge/part_progress.h"

namespace {

constexpr const char* Program = "tallomer-merge";

// The key ranges of range k of K that the threads merge one at a time, and
// the bytes of the parts in all of them, as the sample weighs them. The
// sample is freed on return.
struct Pieces {
    std::vector<KeyRange> ranges;
    std::int64_t bytes = 0;
};

Pieces piecesFor(std::vector<WeightedText> sample, const KeyRangeChoice& choice,
                 const ThreadedMergePlan& plan, std::size_t sources) {
    SplitPoints points(std::move(sample));
    Pieces pieces;
    pieces.bytes = points.weightIn(points.range(choice.k, choice.ranges));
    // The parts' records are about the size of the count file's lines.
    pieces.ranges = piecesOf(points, choice.k, choice.ranges, rangesFor(plan, pieces.bytes, sources));
    return pieces;
}

void mergeRange(const MergeOptions& options, const KeyRangeChoice& choice, const std::string& outputPath,
                const std::vector<std::string>& paths) {
    if (std::optional<std::string> part = partThatIsTheOutput(outputPath, paths))
        throw IoError(outputPath, "is the part " + shownPath(*part) + ", which the merge would replace");
    ReplacementFile::checkCanBeMade(outputPath);
    // Erased before the line on standard output, or, when a failure
    // unwinds through here, before its report.
    ProgressLine progress(Program);
    PartIndexes indexes = readPartIndexes(paths, memoryBudget(), MostSampledTexts, &progress);
    if (std::optional<IoError> problem = coverageProblem(indexes.parts)) throw *problem;
    ThreadedMergePlan plan = planThreadedMerge(paths.size(), static_cast<std::size_t>(usableCpus()),
                                               memoryBudget(), temporaryFolderOrTmpdir(outputPath), false);
    Pieces pieces = piecesFor(std::move(indexes.firstTexts), choice, plan, paths.size());
    OutputFile output(outputPath);
    auto open = [&](std::size_t part, const KeyRange& range,
                    std::size_t bufferBytes) -> std::unique_ptr<CountSource> {
        auto reader = std::make_unique<PartReader>(paths[part], bufferBytes);
        reader->restrictTo(range.from, range.to, &indexes.pages[part]);
        if (!progress.active()) return reader;
        return std::make_unique<PartProgress>(std::move(reader), progress);
    };
    progress.startPhase("merging", pieces.bytes);
    MergeTotals totals = writeMergedRanges(paths.size(), open, pieces.ranges, plan, output, outputPath,
                                           options.minCount.value_or(1));
    output.close();
    progress.finish();
    std::cout << outputPath << ": " << totals.distinct << " distinct n-grams, " << totals.total
              << " in all, range " << choice.k << "/" << choice.ranges;
    if (options.minCount)
        std::cout << ", left out below " << *options.minCount << ": " << totals.leftOutDistinct
                  << " distinct n-grams, " << totals.leftOutTotal << " in all";
    std::cout << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    cleanUpTemporaryFilesOnSignals();
    shareAllocatorArenas(currentMemoryLimits());
    keepFreedMemory();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    ParsedOptions parsed = parseOptions(arguments);
    if (!parsed.error.empty()) {
        reportArgumentError(Program, parsed.error);
        return 1;
    }
    arguments.erase(arguments.begin(), arguments.begin() + static_cast<std::ptrdiff_t>(parsed.used));
    if (arguments.size() < 3) {
        printUsageBlock(
            "tallomer-merge [--min-count=C] [k/K key range] [output file] [part file or @list file]...",
            false);
        return 1;
    }
    ParsedRange range = parseRange(arguments[0]);
    if (!range.range) {
        reportArgumentError(Program, range.error);
        return 1;
    }
    std::string output = arguments[1];
    std::vector<std::string> paths;
    if (int failed = runReportingFailures(Program, output, "out of memory while merging", [&] {
            paths = expandPartLists({arguments.begin() + 2, arguments.end()});
            if (!paths.empty()) mergeRange(parsed.options, *range.range, output, paths);
        }))
        return failed;
    if (paths.empty()) {
        reportArgumentError(Program, "no part file given: the lists name none");
        return 1;
    }
    return checkStandardOutput(Program);
}
