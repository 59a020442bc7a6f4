// The writer of count-file lines, the one every count file goes through:
// entries formatted into blocks of memory, each full block handed to a
// sink, the file itself or what keeps a threaded merge's ranges in order
// (runs/ordered_output.h), which may keep the block and give another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "formats/count_file.h"

// A block of count-file bytes: the first `used` of `bytes`, whose size is
// the block's room.
struct CountBlock {
    std::string bytes;
    std::size_t used = 0;
    std::string_view view() const { return {bytes.data(), used}; }
};

// Takes the bytes of the count file in order, a block at a time.
class BlockSink {
public:
    virtual ~BlockSink() = default;
    // Writes the block's bytes, or keeps the block and leaves another of the
    // same room in its place; either way the block comes back empty.
    virtual void take(CountBlock& block) = 0;
};

// Writes each block to an output file (a block of half its buffer or more
// goes to the file without a copy).
class OutputFileSink final : public BlockSink {
public:
    explicit OutputFileSink(OutputFile& file) : file_(file) {}
    void take(CountBlock& block) override {
        file_.write(block.view());
        block.used = 0;
    }

private:
    OutputFile& file_;
};

// Writes each block to a stream, such as standard output; a failed write
// shows in the stream's state.
class StreamSink final : public BlockSink {
public:
    explicit StreamSink(std::ostream& stream) : stream_(stream) {}
    void take(CountBlock& block) override {
        stream_.write(block.bytes.data(), static_cast<std::streamsize>(block.used));
        block.used = 0;
    }

private:
    std::ostream& stream_;
};

class CountLines {
public:
    static constexpr std::size_t BlockBytes = 1 << 20;

    explicit CountLines(BlockSink& sink, std::size_t blockBytes = BlockBytes);
    CountLines(const CountLines&) = delete;
    CountLines& operator=(const CountLines&) = delete;

    void add(std::string_view text, std::int64_t count) {
        if (static_cast<std::size_t>(end_ - at_) < ShortCountLine) [[unlikely]]
            handOver();
        if (char* end = formatShortEntry(at_, text, count)) [[likely]] {
            at_ = end;
            return;
        }
        addOther(text, count);
    }
    // Hands the last block over.
    void finish() { handOver(); }

private:
    void handOver();
    void addOther(std::string_view text, std::int64_t count);
    void put(std::string_view bytes);

    BlockSink& sink_;
    CountBlock block_;
    char* at_;
    char* end_;
};
