// tallomer-merge: sums the part files of one or more inputs into the count
// file tallomer would write for them, or into the k-th of K key ranges of
// it, so that K tasks can write one count file together.
#include <iostream>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/memory_budget.h"
#include "common/output_file.h"
#include "common/replacement_file.h"
#include "common/report.h"
#include "common/signal_cleanup.h"
#include "common/temporary_file.h"
#include "formats/part_file.h"
#include "runs/group_merge.h"
#include "tallomer-merge/coverage.h"
#include "tallomer-merge/merge_arguments.h"
#include "tallomer-merge/part_indexes.h"
#include "runs/split_points.h"

namespace {

constexpr const char* Program = "tallomer-merge";

std::vector<SourceOpener> partsInRange(const std::vector<std::string>& paths, const KeyRange& range) {
    std::vector<SourceOpener> openers;
    for (const std::string& path : paths)
        openers.push_back([&path, &range](std::size_t bufferBytes) {
            auto reader = std::make_unique<PartReader>(path, bufferBytes);
            reader->restrictTo(range.from, range.to);
            return reader;
        });
    return openers;
}

void mergeRange(const KeyRangeChoice& choice, const std::string& outputPath,
                const std::vector<std::string>& paths) {
    if (std::optional<std::string> part = partThatIsTheOutput(outputPath, paths))
        throw IoError(outputPath, "is the part " + *part + ", which the merge would replace");
    ReplacementFile::checkCanBeMade(outputPath);
    PartIndexes indexes = readPartIndexes(paths, memoryBudget());
    if (std::optional<IoError> problem = coverageProblem(indexes.parts)) throw *problem;
    KeyRange range = SplitPoints(std::move(indexes.firstTexts)).range(choice.k, choice.ranges);
    MergeLimits limits = mergeLimitsFor(paths.size(), memoryBudget(), temporaryFolderOrTmpdir(outputPath));
    OutputFile output(outputPath);
    MergeTotals totals = writeMergedCounts(partsInRange(paths, range), limits, output, outputPath);
    output.close();
    std::cout << outputPath << ": " << totals.distinct << " distinct n-grams, " << totals.total
              << " in all, range " << choice.k << "/" << choice.ranges << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    cleanUpTemporaryFilesOnSignals();
    if (argc < 4) {
        printUsageBlock("tallomer-merge [k/K key range] [output file] [part file or @list file]...", false);
        return 1;
    }
    ParsedRange range = parseRange(argv[1]);
    if (!range.range) {
        reportArgumentError(Program, range.error);
        return 1;
    }
    std::string output = argv[2];
    std::vector<std::string> paths;
    if (int failed = runReportingFailures(Program, output, "out of memory while merging", [&] {
            paths = expandPartLists({argv + 3, argv + argc});
            if (!paths.empty()) mergeRange(*range.range, output, paths);
        }))
        return failed;
    if (paths.empty()) {
        reportArgumentError(Program, "no part file given: the lists name none");
        return 1;
    }
    return checkStandardOutput(Program);
}
