// The public face of the count table: what the producers call, the
// decision to spill the word table, and the final merge into the count file.
#include "counting/ngram_count_table.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "common/file_io.h"
#include "common/output_file.h"
#include "common/parallel.h"
#include "counting/sorted_table.h"
#include "counting/table_sort.h"
#include "counting/word_table.h"
#include "runs/run_store.h"

namespace {

// How many keys ahead of the one being counted a batch fetches slots.
constexpr std::size_t PrefetchDistance = 16;
// The least working memory a word table of its own is worth to a thread:
// below it, the spills of small tables would cost more than the thread gains.
constexpr std::int64_t LeastWordTableShare = std::int64_t{4} << 20;

}  // namespace

NGramCountTable::NGramCountTable(const CountingLimits& limits) {
    words_.push_back(std::make_unique<WordTable>());
    runs_.configure(limits);
}

NGramCountTable::~NGramCountTable() = default;

std::int64_t NGramCountTable::wordTableShare() const {
    return runs_.working() / static_cast<std::int64_t>(words_.size());
}

void NGramCountTable::shareWordCounting() {
    std::int64_t useful = std::max<std::int64_t>(runs_.working() / LeastWordTableShare, 1);
    splitWordTables(static_cast<std::size_t>(std::min<std::int64_t>(runs_.threads(), useful)));
}

// The tables added hash under the first one's key.
void NGramCountTable::splitWordTables(std::size_t tables) {
    while (words_.size() < tables) {
        words_.push_back(std::make_unique<WordTable>());
        words_.back()->key = words_[0]->key;
    }
}

const HashKey& NGramCountTable::wordHashKey() const { return words_[0]->key; }

// Sorts the table into a run and empties it, keeping its arrays (their
// pages are already touched). The run is at most the texts and their
// counts, which the table holds too; its bytes are a fair bound.
void NGramCountTable::spill(WordTable& words) {
    SortedTable sorted(words);
    {
        std::lock_guard<std::mutex> lock(runsLock_);
        runs_.addRun(sorted, static_cast<std::int64_t>(words.bytes()));
    }
    words.empty();
}

// Counts the text, first spilling the table if adding it would take the
// table past its share of the working memory.
void NGramCountTable::addHashed(WordTable& words, std::string_view text, std::uint64_t hash) {
    if (words.add(text, hash)) return;
    if (words.distinct() > 0 && words.bytesAfterAdding(text) > static_cast<std::uint64_t>(wordTableShare()))
        spill(words);
    words.addNew(text, hash);
}

// The sources the final merge reads beside the runs: the word table sorted
// and the held list.
std::size_t NGramCountTable::othersThanRuns() const {
    std::size_t tables = 0;
    for (const auto& words : words_) tables += words->distinct() > 0 ? 1 : 0;
    return tables + heldSources();
}

void NGramCountTable::reserveMemory(std::int64_t bytes) { runs_.reserve(bytes); }

void NGramCountTable::addNGram(std::string_view text) {
    WordTable& words = *words_[0];
    hashAgain(words);
    addHashed(words, text, words.hash(text));
}

void NGramCountTable::addNGrams(std::size_t table, const std::string_view* texts, std::size_t count) {
    constexpr std::size_t Batch = 256;
    std::uint64_t hashes[Batch];
    WordTable& words = *words_[table];
    hashAgain(words);
    for (std::size_t start = 0; start < count; start += Batch) {
        std::size_t batch = std::min(Batch, count - start);
        for (std::size_t i = 0; i < batch; ++i) hashes[i] = words.hash(texts[start + i]);
        countHashed(words, texts + start, hashes, batch);
    }
}

void NGramCountTable::addHashedNGrams(std::size_t table, const std::string_view* texts,
                                      const std::uint64_t* hashes, std::size_t count) {
    WordTable& words = *words_[table];
    hashAgain(words);
    countHashed(words, texts, hashes, count);
}

// A pipeline: a text's home slot is fetched 2 x PrefetchDistance texts
// ahead, and for a long text the record that slot names PrefetchDistance
// ahead, so both have usually arrived when the text is counted.
void NGramCountTable::countHashed(WordTable& words, const std::string_view* texts,
                                  const std::uint64_t* hashes, std::size_t count) {
    for (std::size_t i = 0; i < std::min(count, 2 * PrefetchDistance); ++i)
        words.prefetch(texts[i], hashes[i]);
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t slotAhead = i + 2 * PrefetchDistance, recordAhead = i + PrefetchDistance;
        if (slotAhead < count) words.prefetch(texts[slotAhead], hashes[slotAhead]);
        if (recordAhead < count && texts[recordAhead].size() > MaxMediumLength)
            words.longTexts.prefetchRecord(hashes[recordAhead]);
        addHashed(words, texts[i], hashes[i]);
    }
}

std::int64_t NGramCountTable::workingMemory() const { return runs_.working(); }

void NGramCountTable::beginSortedCounts(std::int64_t largestBytes) { runs_.begin(largestBytes); }

void NGramCountTable::addSortedCount(std::string_view text, std::int64_t count) { runs_.add(text, count); }

void NGramCountTable::endSortedCounts() { runs_.end(); }

void NGramCountTable::addSortedRun(const PiecewiseSource& source) { runs_.addRun(source); }

void NGramCountTable::holdSortedCounts(std::unique_ptr<HeldCounts> held) {
    if (held_) runs_.addRun(*held_);
    held_ = std::move(held);
}

// The tables are sorted at once, each by a thread of its own.
void NGramCountTable::sortWordTables() {
    runInParallel(words_.size(), [&](std::size_t i) { sortInPlace(*words_[i]); });
}

void NGramCountTable::writeCountFile(const std::string& path) {
    // Group merges, if any, come before the count file is created, so that
    // their failures leave no count file behind.
    runs_.mergeDownTo(othersThanRuns());
    OutputFile file(path);
    mergeInRanges(
        [&](std::size_t sources, const RangeOpener& open, const std::vector<KeyRange>& ranges,
            const ThreadedMergePlan& plan) { writeMergedRanges(sources, open, ranges, plan, file, path); });
    file.close();
}

void NGramCountTable::visitCountsInOrder(const std::function<void(std::string_view, std::int64_t)>& visit,
                                         const std::string& path) {
    runs_.mergeDownTo(othersThanRuns());
    mergeInRanges(
        [&](std::size_t sources, const RangeOpener& open, const std::vector<KeyRange>& ranges,
            const ThreadedMergePlan& plan) { visitMergedRanges(sources, open, ranges, plan, path, visit); });
}

CountingStatistics NGramCountTable::countingStatistics() const { return runs_.statistics(); }
