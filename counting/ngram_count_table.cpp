// The public face of the count table: what the producers call, the
// decision to spill the word table, and the final merge into the count file.
#include "counting/ngram_count_table.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "common/file_io.h"
#include "common/output_file.h"
#include "counting/count_table_inspection.h"
#include "counting/sorted_table.h"
#include "counting/word_table.h"
#include "formats/count_file.h"
#include "runs/run_store.h"

namespace {

// How many keys ahead of the one being counted a batch fetches slots.
constexpr std::size_t PrefetchDistance = 16;

// The one count of the process: the word table, the runs and a producer's
// held list, each owned here.
struct NGramCountTable {
    RunStore runs;
    WordTable words;
    std::unique_ptr<HeldCounts> held;
};

NGramCountTable Table;

std::size_t heldSources() { return Table.held ? 1 : 0; }

// Counts the text, first spilling the word table to a run if adding it
// would take the table past its share of the budget: the table then starts
// empty, keeping its arrays (their pages are already touched).
void addHashed(std::string_view text, std::uint64_t hash) {
    WordTable& words = Table.words;
    if (words.add(text, hash)) return;
    if (words.distinct() > 0 &&
        words.bytesAfterAdding(text) > static_cast<std::uint64_t>(Table.runs.working())) {
        // The run is at most the texts and their counts, which the table
        // holds too; its bytes are a fair bound.
        SortedTable sorted(words);
        Table.runs.addRun(sorted, static_cast<std::int64_t>(words.bytes()));
        words.empty();
    }
    words.addNew(text, hash);
}

// Hands every counted text, in order, to visit: the runs and the table merged.
template <typename Visit>
void mergeEverything(Visit&& visit) {
    WordTable& table = Table.words;
    std::unique_ptr<SortedTable> sorted;
    if (table.distinct() > 0) sorted = std::make_unique<SortedTable>(table);
    Table.runs.mergeDownTo((sorted ? 1 : 0) + heldSources());
    std::vector<std::unique_ptr<CountSource>> readers;
    if (Table.held) readers.push_back(Table.held->open());
    Table.runs.openAll(readers);
    std::vector<CountSource*> sources;
    for (auto& reader : readers) sources.push_back(reader.get());
    if (sorted) sources.push_back(sorted.get());
    if (sources.empty()) return;
    mergeCounts(sources, visit);
}

}  // namespace

void configureCounting(const CountingLimits& limits) {
    clearNGramCountTable();
    Table.runs.configure(limits);
}

void reserveMemory(std::int64_t bytes) { Table.runs.reserve(bytes); }

void addNGram(std::string_view text) {
    hashAgain(Table.words);
    addHashed(text, Table.words.hash(text));
}

void addNGrams(const std::string_view* texts, std::size_t count) {
    // A pipeline: a text's home slot is fetched 2 x PrefetchDistance texts
    // ahead, and for a long text the record that slot names PrefetchDistance
    // ahead, so both have usually arrived when the text is counted.
    constexpr std::size_t Batch = 256;
    std::uint64_t hashes[Batch];
    hashAgain(Table.words);
    const WordTable& words = Table.words;
    for (std::size_t start = 0; start < count; start += Batch) {
        const std::string_view* batchTexts = texts + start;
        std::size_t batch = std::min(Batch, count - start);
        for (std::size_t i = 0; i < batch; ++i) {
            hashes[i] = words.hash(batchTexts[i]);
            if (i < 2 * PrefetchDistance) words.prefetch(batchTexts[i], hashes[i]);
        }
        for (std::size_t i = 0; i < batch; ++i) {
            std::size_t slotAhead = i + 2 * PrefetchDistance, recordAhead = i + PrefetchDistance;
            if (slotAhead < batch) words.prefetch(batchTexts[slotAhead], hashes[slotAhead]);
            if (recordAhead < batch && batchTexts[recordAhead].size() > MaxMediumLength)
                words.longTexts.prefetchRecord(hashes[recordAhead]);
            addHashed(batchTexts[i], hashes[i]);
        }
    }
}

std::int64_t workingMemory() { return Table.runs.working(); }

void beginSortedCounts(std::int64_t largestBytes) { Table.runs.begin(largestBytes); }

void addSortedCount(std::string_view text, std::int64_t count) { Table.runs.add(text, count); }

void endSortedCounts() { Table.runs.end(); }

void holdSortedCounts(std::unique_ptr<HeldCounts> held) { Table.held = std::move(held); }

std::unique_ptr<HeldCounts> releaseHeldCounts() {
    if (!Table.held) return nullptr;
    std::unique_ptr<HeldCounts> held = std::move(Table.held);
    Table.runs.addRun(*held->open(), held->largestRunBytes());
    return held;
}

void writeCountFile(const std::string& path) {
    // Group merges, if any, come before the count file is created, so that
    // their failures leave no count file behind.
    Table.runs.mergeDownTo((Table.words.distinct() > 0 ? 1 : 0) + heldSources());
    OutputFile file(path);
    mergeEverything([&](std::string_view text, std::int64_t count) { writeCountEntry(file, text, count); });
    file.close();
}

void visitCountsInOrder(const std::function<void(std::string_view, std::int64_t)>& visit) {
    Table.runs.mergeDownTo((Table.words.distinct() > 0 ? 1 : 0) + heldSources());
    mergeEverything(visit);
}

CountingStatistics countingStatistics() { return Table.runs.statistics(); }

std::uint64_t hashNGramText(std::string_view text) { return Table.words.hash(text); }

void setHashSeed(std::uint64_t seed) {
    clearNGramCountTable();
    Table.words.key = keyFromSeed(seed);
}

std::uint64_t totalProbeDistance() {
    hashAgain(Table.words);
    return Table.words.probeDistance();
}

std::string checkNGramCountTable() {
    hashAgain(Table.words);
    return Table.words.checkConsistency();
}

std::int64_t distinctNGrams() {
    std::int64_t distinct = 0;
    mergeEverything([&](std::string_view, std::int64_t) { ++distinct; });
    return distinct;
}

void forEachNGram(const std::function<void(std::string_view, std::int64_t)>& visit) {
    mergeEverything(visit);
}

void clearNGramCountTable() {
    Table.held.reset();
    Table.words.release();
    Table.runs.clear();
}
