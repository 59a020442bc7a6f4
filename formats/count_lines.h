// Count-file entries formatted into blocks of memory, each full block handed
// to a sink: the file itself, or memory that keeps a merge's pieces in
// order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string_view>

#include "formats/count_file.h"

// Takes the bytes of the count file in order, a block at a time.
class BlockSink {
public:
    virtual ~BlockSink() = default;
    virtual void take(std::string_view bytes) = 0;
};

// Writes each block to an output file.
class OutputFileSink final : public BlockSink {
public:
    explicit OutputFileSink(OutputFile& file) : file_(file) {}
    void take(std::string_view bytes) override { file_.write(bytes); }

private:
    OutputFile& file_;
};

// Writes each block to a stream, such as standard output; a failed write
// shows in the stream's state.
class StreamSink final : public BlockSink {
public:
    explicit StreamSink(std::ostream& stream) : stream_(stream) {}
    void take(std::string_view bytes) override {
        stream_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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
    std::size_t blockBytes_;
    std::unique_ptr<char[]> block_;
    char* at_;
    char* end_;
};
