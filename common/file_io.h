// Checked file access: reading a regular file, writing through one large
// buffer, the descriptors left. Every failure is an IoError naming the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/io_error.h"

// The descriptors RLIMIT_NOFILE allows and those open now; none without a
// limit.
struct DescriptorUse {
    std::size_t limit, open;
};
std::optional<DescriptorUse> descriptorUse();

// A regular file opened for reading. Directories, pipes and devices are
// refused before they are opened, so a FIFO never blocks the program; so is
// a file whose size says 0 but that reads bytes (a pseudo-file).
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::int64_t size() const { return size_; }
    // Reads exactly `length` bytes at `offset`; a short read is an error.
    // Threads may read at once.
    void readAt(std::int64_t offset, char* destination, std::int64_t length) const;
    void close();

private:
    // Takes the size, refusing a pseudo-file.
    void measure();

    std::string path_;
    std::FILE* file_ = nullptr;
    std::int64_t size_ = 0;
};

// A byte array without the cost of zero-filling it first.
struct ByteBuffer {
    std::unique_ptr<char[]> bytes;
    std::int64_t size = 0;
    char* data() const { return bytes.get(); }
};
ByteBuffer allocateBytes(std::int64_t size);

// Bytes written to a descriptor through one large buffer; every write error
// is raised as an IoError naming `path`, its reason after `failure`, so a
// full disk never looks like success.
class BufferedWriter {
public:
    BufferedWriter(int descriptor, std::string path, std::string failure = {});
    BufferedWriter(const BufferedWriter&) = delete;
    BufferedWriter& operator=(const BufferedWriter&) = delete;

    void write(std::string_view bytes);
    void write(char byte) {
        if (used_ == BufferSize) flush();
        buffer_[used_++] = byte;
    }
    // Room for up to `bytes` (at most a buffer's size) formatted in place,
    // then commit() takes those of them that were written: a writer of many
    // short records saves a copy and a call for each.
    char* room(std::size_t bytes) {
        if (bytes > BufferSize - used_) flush();
        return buffer_.get() + used_;
    }
    void commit(std::size_t bytes) { used_ += bytes; }
    void flush();
    // Flushes and frees the buffer: nothing more is written.
    void finish();
    std::int64_t size() const { return written_ + static_cast<std::int64_t>(used_); }
    // For a file that will be synced to disk: has the kernel start writing
    // each `bytes` written out at once, while the rest is made, so that the
    // sync at the end does not wait for all of it. Not for temporary files,
    // which may never need to reach the disk.
    void startWritebackEvery(std::int64_t bytes) { writebackStep_ = bytes; }

private:
    static constexpr std::size_t BufferSize = 1 << 20;
    void writeAll(const char* bytes, std::size_t length);

    int descriptor_;
    std::string path_, failure_;
    std::unique_ptr<char[]> buffer_;
    std::int64_t writebackStep_ = 0, writebackFrom_ = 0;
    std::size_t used_ = 0;
    std::int64_t written_ = 0;
};
