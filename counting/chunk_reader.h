// The plan's chunks handed out in order, each with its lookahead. With a
// second buffer, the next chunk is read on a thread of its own while the
// caller counts this one, so that reading stops taking turns with counting.
#pragma once

#include <cstdint>
#include <exception>
#include <thread>

#include "common/file_io.h"
#include "counting/chunked_input.h"

class ChunkReader {
public:
    // Reads ahead when `second` holds a buffer as large as `first`.
    ChunkReader(InputFile& input, const ChunkPlan& plan, std::int64_t lookahead, ByteBuffer first,
                ByteBuffer second);
    // Waits for a read in flight; its failure, if any, is no one's now.
    ~ChunkReader();
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    // The bytes of the next chunk, plan.readLength(k, lookahead) of them:
    // valid until the next call. Throws what reading it threw.
    const char* next();

private:
    void read(std::int64_t k, char* into);
    void startReading(std::int64_t k);
    void finishReading();

    InputFile& input_;
    const ChunkPlan& plan_;
    std::int64_t lookahead_;
    ByteBuffer current_;
    ByteBuffer ahead_;
    std::int64_t nextChunk_ = 0;
    std::thread reader_;
    std::exception_ptr failure_;
};
