#include "runs/run_format.h"

#include <cstring>

#include "common/file_io.h"
#include "common/text_bytes.h"

void RunWriter::add(std::string_view text, std::int64_t count) {
    std::size_t shared = sharedPrefix(previous_.view(), text);
    std::size_t rest = text.size() - shared;
    constexpr std::size_t ShortRest = 64, LongestRecord = ShortRest + 3 * 10;
    if (rest <= ShortRest) {
        char record[LongestRecord];
        char* start = run_.room(LongestRecord);
        char* out = appendVarint(start ? start : record, shared);
        out = appendVarint(out, rest);
        copyShort(out, text.data() + shared, rest);
        out = appendVarint(out + rest, static_cast<std::uint64_t>(count));
        if (start)
            run_.advance(static_cast<std::size_t>(out - start));
        else
            run_.append(record, static_cast<std::size_t>(out - record));
    } else {
        char record[3 * 10];
        char* out = appendVarint(appendVarint(record, shared), rest);
        run_.append(record, static_cast<std::size_t>(out - record));
        run_.append(text.data() + shared, rest);
        out = appendVarint(record, static_cast<std::uint64_t>(count));
        run_.append(record, static_cast<std::size_t>(out - record));
    }
    copyShort(previous_.keepAndResize(shared, text.size()) + shared, text.data() + shared, rest);
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

bool RunReader::next() {
    if (left_ == 0) return false;
    --left_;
    std::size_t shared, rest;
    if (end_ - next_ >= 2 && static_cast<unsigned char>(next_[0]) < 0x80 &&
        static_cast<unsigned char>(next_[1]) < 0x80) {
        // Nearly every entry: both numbers in one byte each.
        shared = static_cast<unsigned char>(next_[0]);
        rest = static_cast<unsigned char>(next_[1]);
        next_ += 2;
    } else {
        shared = varint();
        rest = varint();
    }
    char* out = current_.keepAndResize(shared, shared + rest) + shared;
    if (rest <= static_cast<std::size_t>(end_ - next_)) {
        copyShort(out, next_, rest);
        next_ += rest;
        rest = 0;
    }
    while (rest > 0) {
        if (next_ == end_) refill();
        std::size_t part = std::min(rest, static_cast<std::size_t>(end_ - next_));
        std::memcpy(out, next_, part);
        out += part;
        next_ += part;
        rest -= part;
    }
    if (next_ != end_ && static_cast<unsigned char>(*next_) < 0x80)
        count_ = static_cast<unsigned char>(*next_++);
    else
        count_ = static_cast<std::int64_t>(varint());
    text_ = current_.view();
    return true;
}
