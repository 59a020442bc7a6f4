#include "runs/split_points.h"

#include <algorithm>

namespace {
// Weights times range numbers pass 64 bits for large inputs and K.
__extension__ typedef unsigned __int128 Wide;
}  // namespace

SplitPoints::SplitPoints(std::vector<WeightedText> texts) {
    std::sort(texts.begin(), texts.end(),
              [](const WeightedText& a, const WeightedText& b) { return a.text < b.text; });
    texts_.reserve(texts.size());
    for (WeightedText& entry : texts) {
        if (!texts_.empty() && texts_.back().text == entry.text)
            texts_.back().bytes += entry.bytes;
        else
            texts_.push_back(std::move(entry));
    }
    weightBefore_.push_back(0);
    for (const WeightedText& entry : texts_) weightBefore_.push_back(weightBefore_.back() + entry.bytes);
}

std::string_view SplitPoints::at(std::int64_t j, std::int64_t ranges) const {
    // A split at texts_[0] leaves nothing before it, and no split can come
    // after the last text: with fewer than two texts every split is the
    // first (or, with none, the empty text, below every text).
    if (texts_.size() < 2) return texts_.empty() ? std::string_view() : texts_[0].text;
    Wide total = static_cast<Wide>(weightBefore_.back()) * static_cast<Wide>(j);
    auto scaled = [&](std::size_t i) {
        return static_cast<Wide>(weightBefore_[i]) * static_cast<Wide>(ranges);
    };
    std::size_t last = texts_.size() - 1;
    // The first text with at least the quantile's weight before it...
    std::size_t low = 1, high = last;
    while (low < high) {
        std::size_t middle = low + (high - low) / 2;
        if (scaled(middle) >= total)
            high = middle;
        else
            low = middle + 1;
    }
    std::size_t i = low;
    // ...or the one before, when that comes as near or nearer.
    if (i > 1 && scaled(i) >= total && total - scaled(i - 1) <= scaled(i) - total) --i;
    return texts_[i].text;
}

std::int64_t SplitPoints::weightIn(const KeyRange& range) const {
    auto firstNotBefore = [this](std::string_view text) {
        auto at =
            std::lower_bound(texts_.begin(), texts_.end(), text,
                             [](const WeightedText& entry, std::string_view t) { return entry.text < t; });
        return static_cast<std::size_t>(at - texts_.begin());
    };
    std::size_t from = firstNotBefore(range.from);
    std::size_t to = range.to ? std::max(from, firstNotBefore(*range.to)) : texts_.size();
    return weightBefore_[to] - weightBefore_[from];
}

KeyRange SplitPoints::range(std::int64_t k, std::int64_t ranges) const {
    KeyRange range;
    if (k > 1) range.from = std::string(at(k - 1, ranges));
    if (k < ranges) range.to = std::string(at(k, ranges));
    return range;
}
