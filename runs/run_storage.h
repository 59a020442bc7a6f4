// Where a sorted run's bytes live: in blocks of memory taken from a pool,
// or in an unnamed temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/temporary_file.h"

// Memory for large buffers straight from the kernel, on huge pages where it
// allows them: a fresh small page costs microseconds to touch here, a huge
// page about as much for 512 times the bytes.
struct LargePages {
    LargePages() = default;
    explicit LargePages(std::size_t bytes);
    ~LargePages();
    LargePages(LargePages&& other) noexcept { swap(other); }
    LargePages& operator=(LargePages&& other) noexcept {
        swap(other);
        return *this;
    }
    void swap(LargePages& other) noexcept {
        std::swap(data, other.data);
        std::swap(bytes, other.bytes);
    }
    char* data = nullptr;
    std::size_t bytes = 0;
};

// The blocks of in-memory runs, in use or kept for reuse (freed blocks are
// kept: touching fresh pages again costs more). It must outlive its runs.
class BlockPool {
public:
    LargePages take(std::size_t blockBytes);
    void giveBack(LargePages block) { spare_.push_back(std::move(block)); }
    // Memory held by the blocks in use.
    std::int64_t inUse() const;
    void releaseSpare();

private:
    std::vector<LargePages> spare_;
    std::int64_t bytes_ = 0;
};

// A place a reader may start a run from: the record at `offset` is the one
// after the first `entriesBefore` entries, coded against `previous`, the
// text before it.
struct RunCheckpoint {
    std::int64_t offset;
    std::int64_t entriesBefore;
    std::string previous;
};

class Run {
public:
    // In memory, in blocks of `blockBytes` from the pool.
    Run(BlockPool& pool, std::size_t blockBytes);
    // In a temporary file in the folder.
    explicit Run(const std::string& folder);
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    void append(const char* bytes, std::size_t length) {
        if (cursor_ != nullptr && length <= static_cast<std::size_t>(blockEnd_ - cursor_)) {
            std::memcpy(cursor_, bytes, length);
            cursor_ += length;
            size_ += static_cast<std::int64_t>(length);
        } else {
            appendSlowly(bytes, length);
        }
    }
    // Room for `bytes` more at the end of the last memory block, or null;
    // advance() then takes what was written there.
    char* room(std::size_t bytes) const {
        return cursor_ != nullptr && bytes <= static_cast<std::size_t>(blockEnd_ - cursor_) ? cursor_
                                                                                            : nullptr;
    }
    void advance(std::size_t bytes) {
        cursor_ += bytes;
        size_ += static_cast<std::int64_t>(bytes);
    }
    // Room for `length` bytes at the end of a memory run, as the pieces of
    // its blocks they fall in, taken at once and filled by the caller
    // before the run is read: threads that append in turn copy their bytes
    // in side by side. Empty for a file run, which append() writes.
    std::vector<std::span<char>> reserve(std::size_t length);
    // Ends the writing; the run can be read from now on.
    void finish();
    bool onDisk() const { return file_ != nullptr; }
    std::int64_t size() const { return size_; }
    std::int64_t entries = 0;
    // In order, spread over the run (see RunWriter).
    std::vector<RunCheckpoint> checkpoints;

    // A view of the bytes from `offset` on: for a memory run the rest of the
    // block (no copy), for a file what fits in `buffer`. Empty at the end.
    std::string_view bytesAt(std::int64_t offset, char* buffer, std::size_t bufferBytes) const;

private:
    void appendSlowly(const char* bytes, std::size_t length);
    BlockPool* pool_ = nullptr;
    // Where the next byte goes in the last block; both null for a file.
    char* cursor_ = nullptr;
    char* blockEnd_ = nullptr;
    std::size_t blockBytes_ = 0;
    std::vector<LargePages> blocks_;
    std::unique_ptr<TemporaryFile> file_;
    std::int64_t size_ = 0;
};
