// NGramCountTable: the count of every n-gram text of one input, and the
// count file it is written to.
//
// Counts go in two ways: texts one at a time (word mode), into a hash table
// that is sorted into a run when it reaches its share of the memory budget;
// or already sorted runs (character mode), handed over whole. Runs stay in
// memory while the budget allows and go to temporary files when it does
// not; the count file is their merge.
//
// Count file: one line per distinct text, "text;count" and CR LF, in
// ascending memcmp order of the texts (a text before every longer text that
// begins with it, so the empty text first). A text may itself hold ';', CR
// and LF (written as CR LF), so a line's count is the number after its LAST
// ';'.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "counting/text_hash.h"
#include "runs/run_store.h"
#include "runs/split_points.h"
#include "runs/threaded_merge.h"

struct WordTable;
class OutputFile;

// What counting needs at least beside the reserve: the smallest table or
// sort buffers, run blocks, and the buffers of a merge and its files.
inline constexpr std::int64_t LeastCountingMemory = std::int64_t{8} << 20;

// A producer's last sorted list may stay in the producer's buffer, read by
// the final merge as it is, instead of being copied into a run. The table
// owns the list, buffer and all, from holdSortedCounts() on, and never hands
// it back. Its pieces become a run on every thread.
class HeldCounts : public PiecewiseSource {
public:
    // A reader from the list's start.
    virtual std::unique_ptr<CountSource> open() const = 0;
    // About `count` texts of the list, evenly spread, each weighted by the
    // entries from it to the next.
    virtual void sampleTexts(std::size_t count, std::vector<WeightedText>& texts) const = 0;
};

// The count of one file, or of a byte range of it, within its limits: the
// word table, the runs and a producer's held list are its own, so that two
// counts can live in one process.
class NGramCountTable {
public:
    explicit NGramCountTable(const CountingLimits& limits);
    ~NGramCountTable();
    NGramCountTable(const NGramCountTable&) = delete;
    NGramCountTable& operator=(const NGramCountTable&) = delete;

    // Memory within the budget held outside the counting structures (the
    // chunk buffer).
    void reserveMemory(std::int64_t bytes);

    // Adds one occurrence of the text (bytes without NUL). The table keeps
    // its own copy; the caller may reuse its buffer at once.
    void addNGram(std::string_view text);
    // Adds one occurrence of each text; the texts must stay valid during the
    // call. A long run lets the table fetch the slots of later texts while
    // it counts the earlier ones.
    void addNGrams(const std::string_view* texts, std::size_t count) { addNGrams(0, texts, count); }

    // Word tables for threads that count at once: as many as the threads,
    // fewer when the working memory cannot give each a useful share (at
    // least one). They split the texts by their hash under one key
    // (counting/word_table.h: hashWordText, wordTableOwning), so that
    // together they hold each text about once; thread i counts into table
    // i only, and the tables share the working memory.
    std::size_t wordTables() const { return words_.size(); }
    void shareWordCounting();
    const HashKey& wordHashKey() const;
    // addNGrams into word table `table`.
    void addNGrams(std::size_t table, const std::string_view* texts, std::size_t count);
    // The same, the texts' hashes under wordHashKey() given.
    void addHashedNGrams(std::size_t table, const std::string_view* texts, const std::uint64_t* hashes,
                         std::size_t count);

    // The bytes a producer of sorted runs may hold for its own buffers, and
    // the threads it may share its work among.
    std::int64_t workingMemory() const;
    int threads() const { return runs_.threads(); }
    // A run handed over sorted: begin, then each text once in ascending
    // memcmp order with its count, then end. `largestBytes` bounds the
    // run's size.
    void beginSortedCounts(std::int64_t largestBytes);
    void addSortedCount(std::string_view text, std::int64_t count);
    void endSortedCounts();
    // The same, the run read whole from `source`.
    void addSortedRun(const PiecewiseSource& source);
    // The producer's last sorted list, kept as it is for the final merge. A
    // list held before becomes a run.
    void holdSortedCounts(std::unique_ptr<HeldCounts> held);

    // Writes the whole table to the path; the old file there stays until
    // the new one is complete. Throws IoError on any failure to create,
    // write or close it, or to spill or merge the runs.
    void writeCountFile(const std::string& path);
    // Hands every counted text once, in ascending order, with its count, to
    // visit: what writeCountFile writes, for writers of other formats.
    // `visit` is called by one thread at a time; `path` names what a sum
    // past 64 bits is reported against.
    void visitCountsInOrder(const std::function<void(std::string_view text, std::int64_t count)>& visit,
                            const std::string& path = "count");

    CountingStatistics countingStatistics() const;

private:
    friend struct TableForTests;
    void splitWordTables(std::size_t tables);
    void addHashed(WordTable& words, std::string_view text, std::uint64_t hash);
    void countHashed(WordTable& words, const std::string_view* texts, const std::uint64_t* hashes,
                     std::size_t count);
    void spill(WordTable& words);
    std::int64_t wordTableShare() const;
    std::size_t heldSources() const { return held_ ? 1 : 0; }
    std::size_t othersThanRuns() const;
    void sortWordTables();
    // The final merge into the count file, on as many threads as it may.
    using RangeMerge =
        std::function<void(std::size_t sources, const RangeOpener& open, const std::vector<KeyRange>& ranges,
                           const ThreadedMergePlan& plan)>;
    // The final merge of everything, on as many threads as it may: its
    // sources, its plan and key ranges, for `merge` to merge.
    void mergeInRanges(const RangeMerge& merge);

    RunStore runs_;
    std::vector<std::unique_ptr<WordTable>> words_;
    std::unique_ptr<HeldCounts> held_;
    // Spills of word tables from their threads take turns at the runs.
    std::mutex runsLock_;
};
