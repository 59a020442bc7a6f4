// The format of a sorted run: a list of (text, count) in ascending memcmp
// order of the texts, each text once, written and read here only.
//
// A run's bytes are one record per entry: the number of leading bytes it
// shares with the text before it, the number of bytes that follow, those
// bytes, and the count, the three numbers as varints (7 bits a byte, low
// bits first). Neighbouring texts of a sorted run share most of their bytes,
// so a run is smaller than the count file it becomes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "common/count_source.h"
#include "common/text_bytes.h"
#include "common/varint.h"
#include "runs/run_storage.h"

// Writes entries, given in ascending order, each text once, into a run.
class RunWriter {
public:
    explicit RunWriter(Run& run) : run_(run) {}
    void add(std::string_view text, std::int64_t count);
    void finish() { run_.finish(); }

private:
    Run& run_;
    TextBuffer previous_;
};

// Reads a run's entries back in order.
class RunReader final : public CountSource {
public:
    RunReader(const Run& run, std::size_t bufferBytes);
    bool next() override;

private:
    unsigned char byte();
    std::uint64_t varint();
    void refill();

    const Run& run_;
    std::unique_ptr<char[]> buffer_;
    std::size_t bufferBytes_;
    std::int64_t offset_ = 0;  // of `end_` in the run
    const char* next_ = nullptr;
    const char* end_ = nullptr;
    std::int64_t left_;
    TextBuffer current_;
};
