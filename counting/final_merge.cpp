// The final merge of a count, into its count file or to a visitor of its
// entries in order, through the threaded merge (runs/threaded_merge.h):
// its sources are the held batch, the runs and the sorted word tables;
// with several threads the texts are cut into key ranges at texts sampled
// from every source (the runs' checkpoints, the word tables and the held
// batch where they lie), weighted by the entries they stand for, and every
// source is read from a range's start (skipTowards).
#include <algorithm>

#include "common/output_file.h"
#include "counting/ngram_count_table.h"
#include "counting/sorted_table.h"
#include "counting/word_table.h"
#include "runs/key_range_source.h"
#include "runs/threaded_merge.h"

namespace {

constexpr std::size_t SamplesPerSource = 256;
// The bytes of a count-file line beside its text: ';', the count, CR LF.
constexpr std::int64_t LineBytesBesideText = 4;

}  // namespace

void NGramCountTable::mergeInRanges(const RangeMerge& merge) {
    sortWordTables();
    std::vector<const Run*> runs = runs_.allRuns();
    std::vector<WordTable*> tables;
    for (auto& words : words_)
        if (words->distinct() > 0) tables.push_back(words.get());
    std::size_t sources = heldSources() + runs.size() + tables.size();
    // The runs are bounded by the run store's merge already, and share
    // their files' descriptors.
    ThreadedMergePlan plan = planThreadedMerge(sources, static_cast<std::size_t>(threads()),
                                               runs_.mergeMemory(), runs_.temporaryFolder(), true);
    plan.limits.width = std::max(plan.limits.width, sources);

    std::vector<KeyRange> ranges{KeyRange{}};
    if (plan.threads > 1) {
        std::vector<WeightedText> samples;
        runs_.sampleTexts(samples);
        for (WordTable* words : tables) sampleSortedTable(*words, SamplesPerSource, samples);
        if (held_) held_->sampleTexts(SamplesPerSource, samples);
        std::int64_t entries = 0, textBytes = 0;
        for (const WeightedText& sample : samples) {
            entries += sample.bytes;
            textBytes += static_cast<std::int64_t>(sample.text.size());
        }
        std::int64_t lineBytes =
            textBytes / std::max<std::int64_t>(static_cast<std::int64_t>(samples.size()), 1) +
            LineBytesBesideText;
        SplitPoints points(std::move(samples));
        ranges = piecesOf(points, 1, 1, rangesFor(plan, entries * lineBytes));
    }

    auto open = [&](std::size_t source, const KeyRange& range,
                    std::size_t bufferBytes) -> std::unique_ptr<CountSource> {
        std::unique_ptr<CountSource> reader;
        if (held_ && source-- == 0)
            reader = held_->open();
        else if (source < runs.size())
            reader = std::make_unique<RunReader>(*runs[source], bufferBytes);
        else
            reader = std::make_unique<SortedTable>(*tables[source - runs.size()]);
        if (range.from.empty() && !range.to) return reader;
        return std::make_unique<KeyRangeSource>(std::move(reader), range);
    };
    merge(sources, open, ranges, plan);
}
