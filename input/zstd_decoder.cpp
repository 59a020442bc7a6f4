#include <zstd.h>

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
    ZstdDecoder(StoredBytes& input, std::int64_t memoryLimit) : input_(input), stream_(ZSTD_createDStream()) {
        if (!stream_) throw IoError(input_.name(), "cannot start zstd: out of memory");
        std::size_t status =
            ZSTD_DCtx_setParameter(stream_, ZSTD_d_windowLogMax, windowLogWithin(memoryLimit));
        if (ZSTD_isError(status)) {
            ZSTD_freeDStream(stream_);
            throw IoError(input_.name(), std::string("cannot start zstd: ") + ZSTD_getErrorName(status));
        }
    }
    ~ZstdDecoder() override { ZSTD_freeDStream(stream_); }

    std::size_t read(char* buffer, std::size_t bytes) override {
        ZSTD_outBuffer out{buffer, bytes, 0};
        while (out.pos < out.size) {
            if (input_.available() == 0) input_.refill();
            ZSTD_inBuffer in{input_.data(), input_.available(), 0};
            std::size_t written = out.pos;
            std::size_t hint = ZSTD_decompressStream(stream_, &out, &in);
            input_.consume(in.pos);
            if (ZSTD_isError(hint)) throwCorrupt(input_, "zstd", ZSTD_getErrorName(hint));
            if (in.pos > 0 || out.pos > written) {
                frameOpen_ = hint != 0;
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
    StoredBytes& input_;
    ZSTD_DStream* stream_;
    bool frameOpen_ = true;
};

}  // namespace

std::unique_ptr<Decoder> zstdDecoder(StoredBytes& input, std::int64_t memoryLimit) {
    return std::make_unique<ZstdDecoder>(input, memoryLimit);
}
