// The format of a sorted run: a list of (text, count) in ascending memcmp
// order of the texts, each text once, written and read here only.
//
// A run's bytes are one record per entry, as formats/record_codec.h codes
// them (the text's bytes shared with the one before, the bytes that follow,
// the count), with nothing around them: where a reader may start is kept
// beside the bytes, in the run's checkpoints.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "common/count_source.h"
#include "common/text_bytes.h"
#include "runs/run_storage.h"

// Writes entries, given in ascending order, each text once, into a run,
// with checkpoints about every run's size / MostCheckpoints bytes (at least
// CheckpointBytes apart), where a reader of a key range may start.
class RunWriter {
public:
    static constexpr std::size_t MostCheckpoints = 1024;
    static constexpr std::int64_t CheckpointBytes = 64 << 10;
    // A checkpoint keeps its text: a longer one waits for a shorter.
    static constexpr std::size_t LongestCheckpointText = 64;

    explicit RunWriter(Run& run, std::int64_t checkpointBytes = CheckpointBytes)
        : run_(run), checkpointBytes_(checkpointBytes), nextCheckpoint_(checkpointBytes) {}
    void add(std::string_view text, std::int64_t count);
    void finish() { run_.finish(); }

private:
    void addCheckpoint();

    Run& run_;
    TextBuffer previous_;
    TextBuffer spare_;  // a record that does not fit in the run's last memory block
    std::int64_t checkpointBytes_;
    std::int64_t nextCheckpoint_;
};

// Reads a run's entries back in order.
class RunReader final : public CountSource {
public:
    RunReader(const Run& run, std::size_t bufferBytes);
    bool next() override;
    bool nextBatch(RecordBatch& batch) override;
    void skipTowards(std::string_view from) override;

private:
    unsigned char byte();
    std::uint64_t varint();
    void refill();
    std::int64_t readEntry();

    const Run& run_;
    std::unique_ptr<char[]> buffer_;
    std::size_t bufferBytes_;
    std::int64_t offset_ = 0;  // of `end_` in the run
    const char* next_ = nullptr;
    const char* end_ = nullptr;
    std::int64_t left_;
    TextBuffer current_;
    KeyBytes key_ = 0;  // of the current text
};
