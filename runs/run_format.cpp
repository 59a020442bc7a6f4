#include "runs/run_format.h"

#include <algorithm>
#include <cstring>

#include "common/file_io.h"
#include "common/text_bytes.h"
#include "formats/record_codec.h"

// When the run holds twice the most checkpoints, every other one goes and
// the distance between them doubles.
void RunWriter::addCheckpoint() {
    std::vector<RunCheckpoint>& points = run_.checkpoints;
    points.push_back({run_.size(), run_.entries, std::string(previous_.view())});
    if (points.size() == 2 * MostCheckpoints) {
        for (std::size_t i = 1; i < MostCheckpoints; ++i) points[i] = std::move(points[2 * i]);
        points.resize(MostCheckpoints);
        checkpointBytes_ *= 2;
    }
    nextCheckpoint_ = points.back().offset + checkpointBytes_;
}

void RunWriter::add(std::string_view text, std::int64_t count) {
    if (run_.size() >= nextCheckpoint_ && previous_.view().size() <= LongestCheckpointText) addCheckpoint();
    std::size_t shared = sharedPrefix(previous_.view(), text);
    std::string_view rest = text.substr(shared);
    std::size_t room = recordRoom(rest.size());
    // Written in the run's last memory block when it has the room, else
    // through `spare_`.
    char* start = run_.room(room);
    char* record = start ? start : spare_.keepAndResize(0, room);
    auto bytes = static_cast<std::size_t>(
        encodeRecord(record, shared, rest, static_cast<std::uint64_t>(count)) - record);
    if (start)
        run_.advance(bytes);
    else
        run_.append(record, bytes);
    copyShort(previous_.keepAndResize(shared, text.size()) + shared, rest.data(), rest.size());
    ++run_.entries;
}

RunReader::RunReader(const Run& run, std::size_t bufferBytes)
    : run_(run), bufferBytes_(bufferBytes), left_(run.entries) {
    if (run.onDisk()) buffer_.reset(new char[bufferBytes]);
}

void RunReader::refill() {
    std::string_view bytes = run_.bytesAt(offset_, buffer_.get(), bufferBytes_);
    if (bytes.empty()) throw IoError("temporary file", "a run ends inside an entry");
    next_ = bytes.data();
    end_ = bytes.data() + bytes.size();
    offset_ += static_cast<std::int64_t>(bytes.size());
}

unsigned char RunReader::byte() {
    if (next_ == end_) refill();
    return static_cast<unsigned char>(*next_++);
}

std::uint64_t RunReader::varint() {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        unsigned char b = byte();
        value |= std::uint64_t{b & 0x7Fu} << shift;
        if (b < 0x80) return value;
    }
}

void RunReader::skipTowards(std::string_view from) {
    const std::vector<RunCheckpoint>& points = run_.checkpoints;
    // The last checkpoint whose text before lies below `from`: so does every
    // entry before it.
    auto after = std::partition_point(points.begin(), points.end(),
                                      [&](const RunCheckpoint& point) { return point.previous < from; });
    if (after == points.begin()) return;
    const RunCheckpoint& point = *(after - 1);
    offset_ = point.offset;
    next_ = end_ = nullptr;
    left_ = run_.entries - point.entriesBefore;
    std::memcpy(current_.keepAndResize(0, point.previous.size()), point.previous.data(),
                point.previous.size());
    TextKey key = textKey(point.previous);
    key_ = KeyBytes{key.word} << 64 | key.second;
}

// One entry into current_ and key_; returns its count. Inline in next()
// and nextBatch(): a call per entry costs more than most entries' work.
[[gnu::always_inline]] inline std::int64_t RunReader::readEntry() {
    --left_;
    std::uint64_t shared, rest;
    if (!readShortRecordStart(next_, end_, shared, rest)) {
        shared = varint();
        rest = varint();
    }
    char* out = current_.keepAndResize(shared, shared + rest) + shared;
    if (rest <= static_cast<std::size_t>(end_ - next_)) [[likely]] {
        auto restBytes = reinterpret_cast<const unsigned char*>(next_);
        key_ = followingKey(key_, shared, restBytes, rest, end_ - next_ >= 16);
        copyShort(out, next_, rest);
        next_ += rest;
    } else {
        while (rest > 0) {
            if (next_ == end_) refill();
            std::size_t part = std::min(rest, static_cast<std::size_t>(end_ - next_));
            std::memcpy(out, next_, part);
            out += part;
            next_ += part;
            rest -= part;
        }
        TextKey key = textKey(current_.view());
        key_ = KeyBytes{key.word} << 64 | key.second;
    }
    if (next_ != end_ && static_cast<unsigned char>(*next_) < 0x80)
        return static_cast<unsigned char>(*next_++);
    return static_cast<std::int64_t>(varint());
}

bool RunReader::next() {
    if (left_ == 0) return false;
    count_ = readEntry();
    text_ = current_.view();
    return true;
}

bool RunReader::nextBatch(RecordBatch& batch) {
    batch.clear();
    while (!batch.full() && left_ > 0) {
        std::int64_t count = readEntry();
        batch.add(keyOf(key_, current_.view().size()), current_.view().data(), count);
    }
    return batch.size > 0;
}
