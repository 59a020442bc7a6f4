// Sorted runs: lists of (text, count) in ascending memcmp order of the texts,
// each text once, held in memory or in a temporary file, read back as
// streams and merged into one list.
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
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/temporary_file.h"

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

// Where a run's bytes live, and the memory all in-memory runs hold.
class Run {
public:
    // In memory, in blocks of `blockBytes`.
    explicit Run(std::size_t blockBytes);
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
    // Ends the writing; the run can be read from now on.
    void finish();
    bool onDisk() const { return file_ != nullptr; }
    std::int64_t size() const { return size_; }
    std::int64_t entries = 0;

    // A view of the bytes from `offset` on: for a memory run the rest of the
    // block (no copy), for a file what fits in `buffer`. Empty at the end.
    std::string_view bytesAt(std::int64_t offset, char* buffer, std::size_t bufferBytes) const;

private:
    void appendSlowly(const char* bytes, std::size_t length);
    // Where the next byte goes in the last block; both null for a file.
    char* cursor_ = nullptr;
    char* blockEnd_ = nullptr;
    std::size_t blockBytes_ = 0;
    std::vector<LargePages> blocks_;
    std::unique_ptr<TemporaryFile> file_;
    std::int64_t size_ = 0;
};

// Memory held by the blocks of all in-memory runs, and the blocks kept for
// reuse (freed blocks are kept: touching fresh pages again costs more).
std::int64_t runBlockMemoryInUse();
void releaseSpareRunBlocks();

// The bytes of a text that is rebuilt from shared prefixes and suffixes.
class TextBuffer {
public:
    std::string_view view() const { return {bytes_.get(), length_}; }
    // Keeps the first `shared` bytes and makes room for `length` in all.
    char* keepAndResize(std::size_t shared, std::size_t length);

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t capacity_ = 0, length_ = 0;
};

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

// One sorted list of entries, read one at a time: next() moves to the
// first, then to each following entry, and is false after the last.
class CountSource {
public:
    virtual ~CountSource() = default;
    virtual bool next() = 0;
    std::string_view text() const { return text_; }
    std::int64_t count() const { return count_; }

protected:
    std::string_view text_;
    std::int64_t count_ = 0;
};

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

// Hands every text of the sources to visit(text, count) once, in ascending
// order, with the sum of its counts over all sources.
template <typename Visit>
void mergeCounts(const std::vector<CountSource*>& sources, Visit&& visit);

// mergeCounts with the sums made by add(sum, count): a merge of counts that
// may pass 64 bits checks each addition.
template <typename Add, typename Visit>
void mergeCountsWith(const std::vector<CountSource*>& sources, Add&& add, Visit&& visit);

#include "common/sorted_runs_merge.h"
