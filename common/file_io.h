// Checked file access shared by the three programs: every failure becomes an
// IoError that names the file, so each program reports it the same way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/replacement_file.h"

struct IoError : std::runtime_error {
    IoError(std::string path, const std::string& reason)
        : std::runtime_error(reason), path(std::move(path)) {}
    std::string path;
};

// The reason text of the current errno, for IoError.
std::string systemReason();

// A regular file opened for reading. Directories, pipes and devices are
// refused before they are opened, so a FIFO never blocks the program.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::int64_t size() const { return size_; }
    // Reads exactly `length` bytes at `offset`; a short read is an error.
    void readAt(std::int64_t offset, char* destination, std::int64_t length);
    void close();

private:
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

// A file written through one large buffer; every write, flush and close
// error is raised, so a full disk never looks like success. The output only
// takes the path's place in close(), once all of it is on disk (see
// ReplacementFile): destroyed without close(), or after any error, it leaves
// the path as it was.
class OutputFile {
public:
    explicit OutputFile(const std::string& path);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(std::string_view bytes);
    void write(char byte) {
        if (used_ == BufferSize) flushBuffer();
        buffer_[used_++] = byte;
    }
    // Writes the bytes with every LF as CR LF, the line end of text files.
    void writeText(std::string_view bytes);
    void writeDecimal(std::int64_t value);
    void writeLineEnd() { write("\r\n"); }
    // Room for up to `bytes` (at most a buffer's size) formatted in place,
    // then commit() takes those of them that were written: a writer of many
    // short records saves a copy and a call for each.
    char* room(std::size_t bytes) {
        if (bytes > BufferSize - used_) flushBuffer();
        return buffer_.get() + used_;
    }
    void commit(std::size_t bytes) { used_ += bytes; }
    void close();

private:
    static constexpr std::size_t BufferSize = 1 << 20;
    void flushBuffer();
    void writeAll(const char* bytes, std::size_t length);

    std::string path_;
    ReplacementFile file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
};
