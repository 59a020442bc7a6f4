// What every sorted list of counts is read through: a run, a part, a held
// batch, the word table sorted in place.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/record_batch.h"

// One sorted list of entries, read one at a time: next() moves to the
// first, then to each following entry, and is false after the last.
class CountSource {
public:
    virtual ~CountSource() = default;
    virtual bool next() = 0;
    // Before the first next(): moves on to some place at or before the first
    // text not below `from`, passing only texts below it, so that a reader of
    // a key range does not read what comes before it. A source that cannot
    // jump stays where it is.
    virtual void skipTowards(std::string_view /*from*/) {}
    // The next entries, as many as fit the batch or are left, in place of
    // what it held; false, with the batch empty, after the last. A merge
    // reads its sources this way: one call a batch, not one an entry.
    virtual bool nextBatch(RecordBatch& batch) {
        batch.clear();
        while (!batch.full() && next()) batch.add(text_, count_);
        return batch.size > 0;
    }
    std::string_view text() const { return text_; }
    std::int64_t count() const { return count_; }

protected:
    std::string_view text_;
    std::int64_t count_ = 0;
};
