#include <lzma.h>

#include <string>

#include "common/io_error.h"
#include "input/decoder.h"
#include "input/stored_bytes.h"

namespace {

// liblzma has codes but no texts for them; these are the words xz uses.
const char* lzmaReason(lzma_ret status) {
    switch (status) {
        case LZMA_MEM_ERROR:
            return "cannot allocate memory (LZMA_MEM_ERROR)";
        case LZMA_FORMAT_ERROR:
            return "file format not recognized (LZMA_FORMAT_ERROR)";
        case LZMA_OPTIONS_ERROR:
            return "unsupported options (LZMA_OPTIONS_ERROR)";
        case LZMA_DATA_ERROR:
            return "compressed data is corrupt (LZMA_DATA_ERROR)";
        case LZMA_UNSUPPORTED_CHECK:
            return "unsupported type of integrity check (LZMA_UNSUPPORTED_CHECK)";
        case LZMA_PROG_ERROR:
            return "internal error (LZMA_PROG_ERROR)";
        default:
            return "unknown error";
    }
}

class XzDecoder : public Decoder {
public:
    XzDecoder(StoredBytes& input, std::int64_t memoryLimit)
        : input_(input), memoryLimit_(static_cast<std::uint64_t>(memoryLimit)) {}
    ~XzDecoder() override { lzma_end(&stream_); }

    std::size_t read(char* buffer, std::size_t bytes) override {
        std::size_t done = 0;
        while (done < bytes && !ended_) {
            if (betweenStreams_ && !startStream()) break;
            bool inputEnded = input_.available() == 0 && !input_.refill();
            stream_.next_in = input_.data();
            stream_.avail_in = input_.available();
            stream_.next_out = reinterpret_cast<std::uint8_t*>(buffer + done);
            stream_.avail_out = bytes - done;
            lzma_ret status = lzma_code(&stream_, inputEnded ? LZMA_FINISH : LZMA_RUN);
            bool progress = stream_.avail_in < input_.available() || stream_.avail_out < bytes - done;
            input_.consume(input_.available() - stream_.avail_in);
            done = bytes - stream_.avail_out;
            if (status == LZMA_STREAM_END) {
                betweenStreams_ = true;
            } else if (status == LZMA_BUF_ERROR || (status == LZMA_OK && inputEnded && !progress)) {
                throwTruncated(input_, "xz", "stream");
            } else if (status == LZMA_MEMLIMIT_ERROR) {
                throwBeyondMemoryLimit(input_, "xz", lzma_memusage(&stream_), memoryLimit_);
            } else if (status != LZMA_OK) {
                throwCorrupt(input_, "xz", lzmaReason(status));
            }
        }
        return done;
    }

private:
    // Skips the padding after a stream and starts the next; false at the
    // end of the input. liblzma could read on through concatenated streams
    // itself, but would then take bytes that are not xz for the start of a
    // stream header, and call them truncated.
    bool startStream() {
        std::int64_t padding = 0;
        for (; input_.fill(1) && input_.data()[0] == 0; ++padding) input_.consume(1);
        if (padding % 4 != 0)
            throwCorrupt(input_, "xz", std::to_string(padding) + " bytes of padding, not a multiple of 4");
        using namespace std::string_view_literals;
        if (!nextMemberFollows(input_, "xz", "\xFD\x37\x7A\x58\x5A\x00"sv)) {
            ended_ = true;
            return false;
        }
        lzma_ret status = lzma_stream_decoder(&stream_, memoryLimit_, 0);
        if (status != LZMA_OK)
            throw IoError(input_.name(), std::string("cannot start liblzma: ") + lzmaReason(status));
        betweenStreams_ = false;
        return true;
    }

    StoredBytes& input_;
    std::uint64_t memoryLimit_;
    lzma_stream stream_ = LZMA_STREAM_INIT;
    bool betweenStreams_ = true, ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> xzDecoder(StoredBytes& input, std::int64_t memoryLimit) {
    return std::make_unique<XzDecoder>(input, memoryLimit);
}
