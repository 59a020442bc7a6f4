#include "counting/chunk_reader.h"

#include <system_error>
#include <utility>

ChunkReader::ChunkReader(InputFile& input, const ChunkPlan& plan, std::int64_t lookahead, ByteBuffer first,
                         ByteBuffer second)
    : input_(input),
      plan_(plan),
      lookahead_(lookahead),
      current_(std::move(first)),
      ahead_(std::move(second)) {}

ChunkReader::~ChunkReader() {
    if (reader_.joinable()) reader_.join();
}

void ChunkReader::read(std::int64_t k, char* into) {
    input_.readAt(plan_.start(k), into, plan_.readLength(k, lookahead_));
}

void ChunkReader::startReading(std::int64_t k) {
    try {
        reader_ = std::thread([this, k] {
            try {
                read(k, ahead_.data());
            } catch (...) {
                failure_ = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: this chunk is read when its turn comes.
    }
}

void ChunkReader::finishReading() {
    reader_.join();
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

const char* ChunkReader::next() {
    std::int64_t k = nextChunk_++;
    if (reader_.joinable()) {
        finishReading();
        std::swap(current_, ahead_);
    } else {
        read(k, current_.data());
    }
    if (ahead_.data() && k + 1 < plan_.count) startReading(k + 1);
    return current_.data();
}
