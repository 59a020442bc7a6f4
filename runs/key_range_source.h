// A sorted source read over one key range only: [from, to).
#pragma once

#include "common/count_source.h"
#include "runs/split_points.h"

class KeyRangeSource final : public CountSource {
public:
    KeyRangeSource(CountSource& source, const KeyRange& range) : source_(source), range_(range) {}
    bool next() override {
        if (!started_) {
            started_ = true;
            source_.skipTowards(range_.from);
            do {
                if (!source_.next()) return false;
            } while (source_.text() < range_.from);
        } else if (!source_.next()) {
            return false;
        }
        if (range_.to && source_.text() >= *range_.to) return false;
        text_ = source_.text();
        count_ = source_.count();
        return true;
    }

private:
    CountSource& source_;
    const KeyRange& range_;
    bool started_ = false;
};
