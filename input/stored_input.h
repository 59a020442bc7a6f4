// A corpus as it is stored: a regular file, plain or compressed with gzip,
// zstd, xz or bzip2, or a stream (standard input, a pipe, a FIFO), read as
// its decompressed bytes through fixed buffers. The format is told by the
// first bytes alone; a name that promises a format its bytes do not hold is
// refused. Every failure (unreadable, corrupt, truncated) is an IoError
// naming the path, or "standard input" for "-".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/byte_stream.h"
#include "common/io_error.h"
#include "input/compression.h"
#include "input/decoder.h"
#include "input/stored_bytes.h"

class StoredInput final : public ByteStream {
public:
    // The most a decoder may take by default: enough for the largest window
    // zstd (2 GiB with --long=31) or xz (1.5 GiB) can ask for.
    static constexpr std::int64_t DefaultDecoderMemory = std::int64_t{3} << 30;

    // "-" is standard input. A zstd window or an xz stream that needs more
    // than `decoderMemory` bytes is refused; gzip takes under 50 KiB and
    // bzip2 under 4 MiB whatever the limit. Beside the decoder, 1 MiB of
    // stored bytes is held.
    explicit StoredInput(const std::string& path, std::int64_t decoderMemory = DefaultDecoderMemory);
    ~StoredInput() override;
    StoredInput(const StoredInput&) = delete;
    StoredInput& operator=(const StoredInput&) = delete;

    const std::string& path() const { return path_; }
    // What failures name: the path, or "standard input" for "-".
    const std::string& name() const { return stored_.name(); }
    Compression compression() const { return compression_; }
    // Not a regular file: standard input (unless redirected from a file), a
    // pipe, a FIFO, a device.
    bool isStream() const { return stored_.isStream(); }
    // The stored size of a regular file; none for a stream.
    std::optional<std::int64_t> storedSize() const { return stored_.size(); }
    // Bytes taken from the file or stream so far, for progress. The stored
    // bytes are read ahead of the data by up to 1 MiB.
    std::int64_t storedBytesRead() const { return stored_.bytesRead(); }

    // Fills `buffer` with up to `bytes` of data; fewer only at the end of
    // the data, 0 once it has ended.
    std::size_t read(char* buffer, std::size_t bytes) override { return decoder_->read(buffer, bytes); }
    void stop() override { stored_.stop(); }

private:
    std::string path_;
    StoredBytes stored_;
    Compression compression_ = Compression::None;
    std::unique_ptr<Decoder> decoder_;
};
