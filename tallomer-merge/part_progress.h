// A part read for the merge that tells the progress line the bytes of its
// range it has read: once 64 KiB have come together and at its end,
// so that the threads seldom meet at the line's counter.
#pragma once

#include <cstdint>
#include <memory>

#include "common/count_source.h"
#include "common/progress_line.h"
#include "formats/part_file.h"

class PartProgress final : public CountSource {
public:
    static constexpr std::int64_t ReportBytes = 64 << 10;

    PartProgress(std::unique_ptr<PartReader> part, ProgressLine& progress)
        : part_(std::move(part)), progress_(progress) {}

    bool next() override {
        bool more = part_->next();
        if (more) {
            text_ = part_->text();
            count_ = part_->count();
        }
        report(more);
        return more;
    }
    bool nextBatch(RecordBatch& batch) override {
        bool more = part_->nextBatch(batch);
        report(more);
        return more;
    }

private:
    void report(bool more) {
        std::int64_t read = part_->rangeBytesRead();
        if (more && read - reported_ < ReportBytes) return;
        progress_.add(read - reported_);
        reported_ = read;
    }

    std::unique_ptr<PartReader> part_;
    ProgressLine& progress_;
    std::int64_t reported_ = 0;
};
