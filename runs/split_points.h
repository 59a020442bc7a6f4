// Where the K key ranges of a merge meet, from weighted texts of its
// sources: the K outputs concatenated are the whole count file. Every task
// of a K-range merge of parts computes them from the parts' indexes alone,
// so the tasks agree without talking to each other; a count's final merge
// cuts itself into ranges for its threads from its runs' checkpoints.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A text of a source (an indexed first text of a part's block, a run's
// checkpoint) and the bytes it stands for, the weight of the keys from that
// text on.
struct WeightedText {
    std::string text;
    std::int64_t bytes = 0;
};

// The texts t of range k: from <= t < to (no `to`: to the end).
struct KeyRange {
    std::string from;
    std::optional<std::string> to;
};

class SplitPoints {
public:
    // In any order: the texts are sorted, and equal texts of several parts
    // become one with their weights added.
    explicit SplitPoints(std::vector<WeightedText> texts);
    // The j-th of the K - 1 split texts (1 <= j < K): the indexed text
    // nearest to the j/K quantile of the weight. Non-decreasing in j; equal
    // neighbours leave an empty range between them.
    std::string_view at(std::int64_t j, std::int64_t ranges) const;
    KeyRange range(std::int64_t k, std::int64_t ranges) const;
    // The weight of the texts in the range: of all texts for the whole
    // range, and of the K ranges together for any K.
    std::int64_t weightIn(const KeyRange& range) const;

private:
    std::vector<WeightedText> texts_;
    std::vector<std::int64_t> weightBefore_;  // of texts_[i]; one more at the end: the total
};
