// The word table read in text order, sorted in its own slot arrays
// (counting/table_sort.h).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "counting/word_table.h"
#include "runs/count_merge.h"
#include "runs/split_points.h"

// About `perArray` texts of each of the table's slot arrays, evenly spread,
// each weighted by the entries from it to the next; sorts the table first.
void sampleSortedTable(WordTable& table, std::size_t perArray, std::vector<WeightedText>& texts);

// The table's entries in text order: the empty text, then a merge of the
// three sorted slot arrays. Each array's leading text is decoded once, when
// the array moves on, which is after the merge has taken the text before.
class SortedTable final : public CountSource {
public:
    explicit SortedTable(WordTable& table);
    bool next() override;
    // Jumps exactly: each slot array by a binary search.
    void skipTowards(std::string_view from) override;

private:
    static constexpr int Parts = 3;  // short, medium, long texts
    static constexpr std::uint64_t RecordBurst = 16;
    std::int64_t countAt(int part) const;
    void decode(int part);
    // Prefetches the records of long texts from..from + RecordBurst.
    void fetchRecords(std::uint64_t from) const;

    WordTable& table_;
    bool emptyDone_ = false;
    int taken_ = -1;
    std::uint64_t position_[Parts] = {};
    bool has_[Parts] = {};
    std::string_view leading_[Parts];
    char shortText_[8], mediumText_[16];
};
