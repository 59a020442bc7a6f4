#include "counting/chunk_reader.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "common/parallel.h"

FilledChunk FileChunks::fill(std::int64_t k, char* into, std::size_t threads) {
    std::int64_t available = plan_.readLength(k, lookahead_), start = plan_.start(k);
    // Reading a chunk from the page cache is copying it, and into a fresh
    // buffer also the first touch of every page: both go as many times
    // faster as threads share them.
    std::int64_t pieces = std::clamp<std::int64_t>(
        available / leastPiece_, 1, static_cast<std::int64_t>(std::max<std::size_t>(threads, 1)));
    runInParallel(static_cast<std::size_t>(pieces), [&](std::size_t i) {
        std::int64_t from = available / pieces * static_cast<std::int64_t>(i);
        std::int64_t to = static_cast<std::int64_t>(i) + 1 == pieces ? available : from + available / pieces;
        input_.readAt(start + from, into + from, to - from);
    });
    return {plan_.length(k), available, k + 1 >= plan_.count};
}

namespace {
// A stream is read in pieces of at most this many bytes, so that a stop
// is seen between them even while a decoder is busy.
constexpr std::int64_t StreamPiece = std::int64_t{4} << 20;
}  // namespace

FilledChunk StreamChunks::fill(std::int64_t, char* into, std::size_t) {
    std::int64_t wanted = chunkSize_ + lookahead_;
    std::int64_t got = static_cast<std::int64_t>(carried_.size());
    std::memcpy(into, carried_.data(), carried_.size());
    while (got < wanted) {
        if (stopped_.load(std::memory_order_relaxed)) throw std::runtime_error("stopped");
        std::size_t read =
            stream_.read(into + got, static_cast<std::size_t>(std::min(wanted - got, StreamPiece)));
        if (read == 0) break;
        got += static_cast<std::int64_t>(read);
    }
    std::int64_t length = std::min(got, chunkSize_);
    carried_.assign(into + length, static_cast<std::size_t>(got - length));
    size_ += length;
    // The stream ends in this chunk when it did not fill the buffer and
    // left no byte past the chunk.
    return {length, got, got < wanted && got <= chunkSize_};
}

void StreamChunks::stop() {
    stopped_.store(true, std::memory_order_relaxed);
    stream_.stop();
}

ChunkReader::ChunkReader(ChunkSource& source, ByteBuffer first, ByteBuffer second, ChunkCounted counted,
                         std::size_t threads)
    : source_(source),
      current_(std::move(first)),
      ahead_(std::move(second)),
      counted_(std::move(counted)),
      threads_(threads) {}

ChunkReader::~ChunkReader() {
    if (reader_.joinable()) {
        source_.stop();
        reader_.join();
    }
    if (counted_ && handedOut_ > 0) counted_(handedOut_);
}

void ChunkReader::startFilling(std::int64_t k) {
    try {
        reader_ = std::thread([this, k] {
            try {
                filled_ = source_.fill(k, ahead_.data(), 1);
            } catch (...) {
                failure_ = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: this chunk is read when its turn comes.
    }
}

const char* ChunkReader::next(FilledChunk& chunk) {
    if (counted_ && handedOut_ > 0) counted_(std::exchange(handedOut_, 0));
    std::int64_t k = nextChunk_++;
    if (reader_.joinable()) {
        reader_.join();
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
        std::swap(current_, ahead_);
        chunk = filled_;
    } else {
        chunk = source_.fill(k, current_.data(), threads_);
    }
    if (ahead_.data() && !chunk.last) startFilling(k + 1);
    handedOut_ = chunk.length;
    return current_.data();
}
