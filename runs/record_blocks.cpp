#include "runs/record_blocks.h"

#include <algorithm>

#include "common/varint.h"
#include "formats/record_codec.h"

RecordBlocks::RecordBlocks(BlockSink& sink, std::size_t blockBytes)
    : sink_(sink), block_{std::string(std::max<std::size_t>(blockBytes, 4096), '\0')} {}

void RecordBlocks::add(std::string_view text, std::int64_t count) {
    std::size_t shared = sharedPrefix(previous_.view(), text);
    std::string_view rest = text.substr(shared);
    std::size_t room = recordRoom(rest.size());
    if (block_.used + room > block_.bytes.size()) {
        handOver();
        // A text longer than a block gets a block of its own size.
        if (room > block_.bytes.size()) block_.bytes.resize(room);
    }
    char* start = block_.bytes.data() + block_.used;
    block_.used += static_cast<std::size_t>(
        encodeRecord(start, shared, rest, static_cast<std::uint64_t>(count)) - start);
    copyShort(previous_.keepAndResize(shared, text.size()) + shared, rest.data(), rest.size());
}

void RecordBlocks::handOver() {
    if (block_.used > 0) sink_.take(block_);
    block_.used = 0;
}

void RecordBlocks::finish() { handOver(); }

void RecordReplay::write(std::string_view bytes) {
    if (carry_.empty()) {
        std::size_t used = decode(bytes);
        carry_.assign(bytes.substr(used));
        return;
    }
    carry_.append(bytes);
    carry_.erase(0, decode(carry_));
}

std::size_t RecordReplay::decode(std::string_view bytes) {
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* end = begin + bytes.size();
    const unsigned char* at = begin;
    for (;;) {
        const unsigned char* in = at;
        std::uint64_t shared, rest, count;
        if (!readBoundedRecordStart(in, end, shared, rest) || static_cast<std::uint64_t>(end - in) < rest)
            break;
        const unsigned char* restBytes = in;
        in += rest;
        if (!readBoundedVarint(in, end, count)) break;
        char* text = previous_.keepAndResize(shared, shared + rest);
        copyShort(text + shared, reinterpret_cast<const char*>(restBytes), rest);
        visit_(previous_.view(), static_cast<std::int64_t>(count));
        at = in;
    }
    return static_cast<std::size_t>(at - begin);
}
