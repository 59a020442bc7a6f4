// The final merge into the count file on several threads. The texts are
// cut into key ranges at texts sampled from every source (the runs'
// checkpoints, the sorted word tables, the held batch), weighted by the
// entries they stand for; each range is merged by one thread, every source
// read from the range's start (skipTowards), and the ranges are written in
// order (runs/ordered_output.h), those ahead of their turn held in memory
// or, beyond a quarter of the merge's memory, in temporary files. The same
// count file as one merge: the ranges part the texts, and each range's
// merge lists its texts in order.
#include <algorithm>

#include "common/output_file.h"
#include "counting/ngram_count_table.h"
#include "counting/sorted_table.h"
#include "counting/word_table.h"
#include "formats/count_lines.h"
#include "runs/key_range_source.h"
#include "runs/ordered_output.h"

namespace {

constexpr std::size_t SamplesPerSource = 256;
// A thread of the merge takes a writer's buffer and memory to format ahead
// of its turn; below this much of the merge's memory per thread there are
// fewer threads.
constexpr std::int64_t LeastMergeMemoryPerThread = std::int64_t{4} << 20;
// Ranges per thread at least, so that a slow range does not hold up the
// others, and at most in all.
constexpr std::size_t LeastRangesPerThread = 4, MostRanges = 4096;
// Held ranges past this much a thread go to temporary files: held blocks
// are reused once written, and more fresh memory costs more in page faults
// than it saves.
constexpr std::int64_t MostHeldBytesPerThread = std::int64_t{64} << 20;
// The bytes of a count-file line beside its text: ';', the count, CR LF.
constexpr std::int64_t LineBytesBesideText = 4;

}  // namespace

std::size_t NGramCountTable::finalMergeThreads() const {
    std::int64_t affordable = runs_.mergeMemory() / LeastMergeMemoryPerThread;
    return static_cast<std::size_t>(std::clamp<std::int64_t>(affordable, 1, threads()));
}

void NGramCountTable::writeInRanges(OutputFile& file, std::size_t threads) {
    sortWordTables();
    std::vector<WeightedText> samples;
    runs_.sampleTexts(samples);
    for (auto& words : words_)
        if (words->distinct() > 0) sampleSortedTable(*words, SamplesPerSource, samples);
    if (held_) held_->sampleTexts(SamplesPerSource, samples);

    // A quarter of the merge's memory for the ranges formatted ahead of
    // their turn (more goes to temporary files), half for the readers
    // (RunStore::openAll), a quarter for the blocks being formatted.
    std::int64_t heldBytes =
        std::min(runs_.mergeMemory() / 4, MostHeldBytesPerThread * static_cast<std::int64_t>(threads));
    std::int64_t entries = 0, textBytes = 0;
    for (const WeightedText& sample : samples) {
        entries += sample.bytes;
        textBytes += static_cast<std::int64_t>(sample.text.size());
    }
    std::int64_t lineBytes =
        textBytes / std::max<std::int64_t>(static_cast<std::int64_t>(samples.size()), 1) +
        LineBytesBesideText;
    // Ranges of about half what a thread may hold, so that they seldom spill.
    std::int64_t wanted =
        entries * lineBytes / std::max<std::int64_t>(heldBytes, 1) * static_cast<std::int64_t>(2 * threads);
    std::size_t ranges = static_cast<std::size_t>(
        std::clamp<std::int64_t>(wanted, static_cast<std::int64_t>(LeastRangesPerThread * threads),
                                 static_cast<std::int64_t>(MostRanges)));
    SplitPoints points(std::move(samples));
    std::vector<KeyRange> keyRanges;
    for (std::size_t k = 1; k <= ranges; ++k)
        keyRanges.push_back(points.range(static_cast<std::int64_t>(k), static_cast<std::int64_t>(ranges)));

    OrderedOutput ordered(file, ranges, 2 * threads, heldBytes, runs_.temporaryFolder());
    producePiecesInOrder(ordered, ranges, threads, [&](std::size_t range, BlockSink& sink) {
        std::vector<std::unique_ptr<CountSource>> readers;
        if (held_) readers.push_back(held_->open());
        runs_.openAll(readers, threads);
        for (auto& words : words_)
            if (words->distinct() > 0) readers.push_back(std::make_unique<SortedTable>(*words));
        std::vector<std::unique_ptr<KeyRangeSource>> bounded;
        std::vector<CountSource*> sources;
        for (auto& reader : readers) {
            bounded.push_back(std::make_unique<KeyRangeSource>(*reader, keyRanges[range]));
            sources.push_back(bounded.back().get());
        }
        CountLines lines(sink);
        if (!sources.empty())
            mergeCounts(sources, [&](std::string_view text, std::int64_t count) { lines.add(text, count); });
        lines.finish();
    });
}
