// The chunks of an input handed out in order, each with its lookahead. With
// a second buffer, the next chunk is read on a thread of its own while the
// caller counts this one, so that reading stops taking turns with counting.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <thread>

#include "common/byte_stream.h"
#include "common/file_io.h"
#include "counting/chunked_input.h"

// What a chunk's bytes hold: `length` bytes of the chunk, then its
// lookahead, `available` in all.
struct FilledChunk {
    std::int64_t length = 0;
    std::int64_t available = 0;
    bool last = false;
};

// Where the chunks come from. fill() is called for k = 0, 1, ... in
// order, on one thread at a time, which may share the reading out among
// up to `threads` threads.
class ChunkSource {
public:
    virtual ~ChunkSource() = default;
    virtual FilledChunk fill(std::int64_t k, char* into, std::size_t threads) = 0;
    // Whether fill() shares the reading out.
    virtual bool readsInPieces() const { return false; }
    // Makes a fill in flight on another thread end soon (it may throw):
    // its chunk is wanted no more.
    virtual void stop() {}
};

// The plan's chunks of a file, each read in pieces of at least
// `leastPiece` bytes, one a thread.
class FileChunks final : public ChunkSource {
public:
    static constexpr std::int64_t LeastPiece = std::int64_t{4} << 20;
    FileChunks(InputFile& input, const ChunkPlan& plan, std::int64_t lookahead,
               std::int64_t leastPiece = LeastPiece)
        : input_(input), plan_(plan), lookahead_(lookahead), leastPiece_(leastPiece) {}
    FilledChunk fill(std::int64_t k, char* into, std::size_t threads) override;
    bool readsInPieces() const override { return true; }

private:
    InputFile& input_;
    const ChunkPlan& plan_;
    std::int64_t lookahead_;
    std::int64_t leastPiece_;
};

// The chunks of a stream, as a whole run's chunks of a file of its bytes:
// each chunk's lookahead is kept to begin the next. The last is the first
// that leaves no byte for another, or, where exactly full chunks end the
// stream, an empty one: the stream's end is seen only by reading it.
class StreamChunks final : public ChunkSource {
public:
    StreamChunks(ByteStream& stream, std::int64_t chunkSize, std::int64_t lookahead)
        : stream_(stream), chunkSize_(chunkSize), lookahead_(lookahead) {}
    FilledChunk fill(std::int64_t k, char* into, std::size_t threads) override;
    void stop() override;
    // The bytes the stream held, once the last chunk is filled.
    std::int64_t size() const { return size_; }

private:
    ByteStream& stream_;
    std::int64_t chunkSize_;
    std::int64_t lookahead_;
    std::string carried_;  // the lookahead of the chunk before
    std::int64_t size_ = 0;
    std::atomic<bool> stopped_{false};
};

// Told the length of each chunk once it is counted, on the thread that
// takes the chunks; it must not throw.
using ChunkCounted = std::function<void(std::int64_t length)>;

class ChunkReader {
public:
    // Reads ahead when `second` holds a buffer as large as `first`; a chunk
    // that the caller waits for is read by up to `threads` threads. A chunk
    // is taken as counted when the next is asked for, the last one when the
    // reader goes.
    ChunkReader(ChunkSource& source, ByteBuffer first, ByteBuffer second, ChunkCounted counted = {},
                std::size_t threads = 1);
    // Stops a read in flight and waits for it: its chunk and its failure,
    // if any, are no one's now, and a stream's writer who pauses must not
    // hold up the failure that ends the count.
    ~ChunkReader();
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    // The next chunk's bytes, valid until the next call, and what they
    // hold. Throws what reading them threw.
    const char* next(FilledChunk& chunk);

private:
    void fill(std::int64_t k, char* into, FilledChunk& filled);
    void startFilling(std::int64_t k);

    ChunkSource& source_;
    ByteBuffer current_;
    ByteBuffer ahead_;
    std::int64_t nextChunk_ = 0;
    std::thread reader_;
    FilledChunk filled_;  // of the chunk read ahead
    std::exception_ptr failure_;
    ChunkCounted counted_;
    std::size_t threads_;
    std::int64_t handedOut_ = 0;  // the length of the chunk handed out last, not yet told
};
