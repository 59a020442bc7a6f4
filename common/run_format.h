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

#include "common/count_merge.h"
#include "common/run_storage.h"

// The numbers of run records and arena records: 7 bits a byte, low bits
// first, a high bit on every byte but the last.
inline std::size_t varintBytes(std::uint64_t value) {
    return static_cast<std::size_t>(std::bit_width(value | 1) + 6) / 7;
}

inline char* appendVarint(char* out, std::uint64_t value) {
    while (value >= 0x80) {
        *out++ = static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    *out++ = static_cast<char>(value);
    return out;
}

// Reads a number that lies whole in memory and moves `in` past it.
inline std::uint64_t readVarint(const unsigned char*& in) {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        value |= std::uint64_t{*in & 0x7Fu} << shift;
        if (*in++ < 0x80) return value;
    }
}

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
