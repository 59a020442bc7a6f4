// For ZSTD_getFrameHeader and ZSTD_estimateDStreamSize_fromFrame, which
// Debian's shared libzstd exports.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <string>

#include "common/io_error.h"
#include "input/decoder.h"
#include "input/stored_bytes.h"

namespace {

// The largest window (as a power of two) within `memoryLimit`, in the
// bounds zstd allows.
int windowLogWithin(std::int64_t memoryLimit) {
    ZSTD_bounds bounds = ZSTD_dParam_getBounds(ZSTD_d_windowLogMax);
    int log = 0;
    while (log < 62 && (std::int64_t{2} << log) <= memoryLimit) ++log;
    return std::clamp(log, bounds.lowerBound, bounds.upperBound);
}

class ZstdDecoder : public Decoder {
public:
    ZstdDecoder(StoredBytes& input, std::int64_t memoryLimit)
        : input_(input), stream_(ZSTD_createDStream()), windowLog_(windowLogWithin(memoryLimit)) {
        if (!stream_) throw IoError(input_.name(), "cannot start zstd: out of memory");
        std::size_t status = ZSTD_DCtx_setParameter(stream_, ZSTD_d_windowLogMax, windowLog_);
        if (ZSTD_isError(status)) {
            ZSTD_freeDStream(stream_);
            throw IoError(input_.name(), std::string("cannot start zstd: ") + ZSTD_getErrorName(status));
        }
    }
    ~ZstdDecoder() override { ZSTD_freeDStream(stream_); }

    std::size_t read(char* buffer, std::size_t bytes) override {
        ZSTD_outBuffer out{buffer, bytes, 0};
        while (out.pos < out.size) {
            // A frame's header goes to zstd whole, never split over two
            // calls, so that a refusal finds it at the front of the buffer.
            if (headerNext_)
                input_.fill(ZSTD_FRAMEHEADERSIZE_MAX);
            else if (input_.available() == 0)
                input_.refill();
            ZSTD_inBuffer in{input_.data(), input_.available(), 0};
            std::size_t written = out.pos;
            std::size_t hint = ZSTD_decompressStream(stream_, &out, &in);
            input_.consume(in.pos);
            if (ZSTD_isError(hint)) refuse(hint);
            if (in.pos > 0 || out.pos > written) {
                frameOpen_ = hint != 0;
                headerNext_ = hint == 0;
            } else {
                // No progress: the input has ended (it is refilled whenever
                // it runs out) and nothing is left to flush. A hint of 0
                // says a frame has just been completed; once that has
                // been seen, the hint asks for the next frame's header.
                if (frameOpen_) throwTruncated(input_, "zstd", "frame");
                break;
            }
        }
        return out.pos;
    }

private:
    // A window beyond the limit and memory that could not be had are told
    // with what the frame asks for. zstd refuses a frame as soon as it has
    // read the header, before it takes any of its bytes, so the header is
    // still at the front of the buffer.
    [[noreturn]] void refuse(std::size_t error) {
        ZSTD_ErrorCode code = ZSTD_getErrorCode(error);
        ZSTD_frameHeader header{};
        if (ZSTD_getFrameHeader(&header, input_.data(), input_.available()) == 0) {
            if (code == ZSTD_error_frameParameter_windowTooLarge)
                throwBeyondMemoryLimit(input_, "zstd", header.windowSize, std::uint64_t{1} << windowLog_);
            if (code == ZSTD_error_memory_allocation)
                throwOutOfMemory(input_, "zstd",
                                 ZSTD_estimateDStreamSize_fromFrame(input_.data(), input_.available()));
        }
        throwCorrupt(input_, "zstd", ZSTD_getErrorName(error));
    }

    StoredBytes& input_;
    ZSTD_DStream* stream_;
    int windowLog_;
    bool frameOpen_ = true, headerNext_ = true;
};

}  // namespace

std::unique_ptr<Decoder> zstdDecoder(StoredBytes& input, std::int64_t memoryLimit) {
    return std::make_unique<ZstdDecoder>(input, memoryLimit);
}
