// The bytes of a file or of standard input as they are stored, read
// through one fixed buffer: a decoder takes them from the buffer's front
// and asks for more when it is empty. Every failure is an IoError naming
// the input.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class StoredBytes {
public:
    // The buffer's size: a regular file smaller than that gets one of its
    // own size (at least 4 KiB).
    static constexpr std::size_t BufferSize = 1 << 20;

    // "-" is standard input, which is read but never closed. A directory is
    // refused; a pipe, a FIFO or a device is read as a stream, and so is a
    // regular file whose size says 0 but that reads bytes (a pseudo-file
    // such as /proc/cpuinfo).
    explicit StoredBytes(const std::string& path);
    ~StoredBytes();
    StoredBytes(const StoredBytes&) = delete;
    StoredBytes& operator=(const StoredBytes&) = delete;

    // What errors name: the path, or "standard input".
    const std::string& name() const { return name_; }
    bool isStream() const { return !size_; }
    std::optional<std::int64_t> size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    // Bytes taken from the descriptor so far, buffered ones included.
    std::int64_t bytesRead() const { return bytesRead_; }

    // The buffered bytes not yet consumed.
    const unsigned char* data() const { return buffer_.get() + begin_; }
    std::size_t available() const { return end_ - begin_; }
    std::string_view view() const { return {reinterpret_cast<const char*>(data()), available()}; }
    void consume(std::size_t bytes) { begin_ += bytes; }

    // Reads once more into the buffer, which must have room (the decoders
    // refill an empty one); false at the end of the input.
    bool refill();
    // Reads until `bytes` (at most the capacity) are buffered or the input
    // ends; whether they are.
    bool fill(std::size_t bytes);
    // Hands over the buffered bytes, then reads straight into `destination`
    // until `bytes` are there or the input ends; how many.
    std::size_t readInto(char* destination, std::size_t bytes);

    // Makes a read that waits for a stream's bytes, on another thread,
    // return at once, and every later read fail: for when no one wants the
    // bytes any more, so that a writer who pauses or never ends cannot hold
    // the program. From any thread.
    void stop();

private:
    // Refuses a directory; takes a regular file's size and sizes the buffer.
    void describe();
    // A regular file whose size says 0 may yet hold bytes: a first one read
    // makes it a stream.
    void probeEmptyFile();
    // One read(2) of up to `bytes`; 0 at the end.
    std::size_t readSome(unsigned char* destination, std::size_t bytes);
    // Waits until the stream has bytes (or its end) or stop() is called.
    void waitForBytes();

    std::string name_;
    int descriptor_ = -1;
    bool ownsDescriptor_ = false;
    std::optional<std::int64_t> size_;
    std::size_t capacity_ = BufferSize;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    std::int64_t bytesRead_ = 0;
    bool ended_ = false;
    std::atomic<bool> stopped_{false};
    int stopSignal_ = -1;  // an eventfd that stop() makes readable, for a stream
};
