// A sorted source read over one key range only: [from, to). It moves the
// source towards `from` first (skipTowards) and trims the batches it reads
// at the range's ends, each end found by a binary search of keys.
#pragma once

#include <memory>

#include "common/count_source.h"
#include "runs/split_points.h"

class KeyRangeSource final : public CountSource {
public:
    KeyRangeSource(std::unique_ptr<CountSource> source, const KeyRange& range)
        : source_(std::move(source)), range_(range), reachedFrom_(range.from.empty()) {}
    bool next() override;
    bool nextBatch(RecordBatch& batch) override;

private:
    void start();

    std::unique_ptr<CountSource> source_;
    const KeyRange& range_;
    bool started_ = false, reachedFrom_, done_ = false;
};
