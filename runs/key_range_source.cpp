#include "runs/key_range_source.h"

#include <cstring>

namespace {

// Whether entry i of the batch comes before the text.
bool before(const RecordBatch& batch, std::size_t i, const TextKey& key, std::string_view text) {
    TextKey entry = batch.key(i);
    if (entry.word != key.word) return entry.word < key.word;
    if (entry.second != key.second) return entry.second < key.second;
    if (entry.size <= 16 || key.size <= 16) return entry.size < key.size;
    return batch.longText(i) < text;
}

// The first entry of the batch not before the text.
std::size_t firstNotBefore(const RecordBatch& batch, std::string_view text) {
    TextKey key = textKey(text);
    std::size_t low = 0, high = batch.size;
    while (low < high) {
        std::size_t middle = low + (high - low) / 2;
        if (before(batch, middle, key, text))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void dropFirst(RecordBatch& batch, std::size_t count) {
    std::size_t left = batch.size - count;
    std::memmove(batch.words, batch.words + count, left * sizeof batch.words[0]);
    std::memmove(batch.seconds, batch.seconds + count, left * sizeof batch.seconds[0]);
    std::memmove(batch.sizes, batch.sizes + count, left * sizeof batch.sizes[0]);
    std::memmove(batch.counts, batch.counts + count, left * sizeof batch.counts[0]);
    std::memmove(batch.longAt, batch.longAt + count, left * sizeof batch.longAt[0]);
    batch.size = left;
}

}  // namespace

void KeyRangeSource::start() {
    started_ = true;
    if (!reachedFrom_) source_->skipTowards(range_.from);
}

bool KeyRangeSource::next() {
    if (done_) return false;
    if (!started_) start();
    for (;;) {
        if (!source_->next()) {
            done_ = true;
            return false;
        }
        if (reachedFrom_ || source_->text() >= range_.from) break;
    }
    reachedFrom_ = true;
    if (range_.to && source_->text() >= *range_.to) {
        done_ = true;
        return false;
    }
    text_ = source_->text();
    count_ = source_->count();
    return true;
}

bool KeyRangeSource::nextBatch(RecordBatch& batch) {
    batch.clear();
    if (done_) return false;
    if (!started_) start();
    while (source_->nextBatch(batch)) {
        if (!reachedFrom_) {
            std::size_t first = firstNotBefore(batch, range_.from);
            if (first == batch.size) continue;
            dropFirst(batch, first);
            reachedFrom_ = true;
        }
        if (range_.to) {
            std::size_t end = firstNotBefore(batch, *range_.to);
            if (end < batch.size) {
                batch.size = end;
                done_ = true;
            }
        }
        if (batch.size > 0) return true;
        if (done_) return false;
    }
    done_ = true;
    return false;
}
