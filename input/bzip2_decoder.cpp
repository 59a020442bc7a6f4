#include <bzlib.h>

#include <algorithm>
#include <string>

#include "common/io_error.h"
#include "input/decoder.h"
#include "input/stored_bytes.h"

namespace {

// libbz2 counts in unsigned int; a call takes at most this much.
constexpr std::size_t MaxStep = std::size_t{1} << 30;

// libbz2 has codes but no texts for them.
std::string bzip2Reason(int status) {
    switch (status) {
        case BZ_DATA_ERROR:
            return "a block's data or checksum is wrong (BZ_DATA_ERROR)";
        case BZ_DATA_ERROR_MAGIC:
            return "a stream's magic number is wrong (BZ_DATA_ERROR_MAGIC)";
        case BZ_MEM_ERROR:
            return "cannot allocate memory (BZ_MEM_ERROR)";
        case BZ_CONFIG_ERROR:
            return "libbz2 is built wrongly for this machine (BZ_CONFIG_ERROR)";
        default:
            return "libbz2 error " + std::to_string(status);
    }
}

class Bzip2Decoder : public Decoder {
public:
    explicit Bzip2Decoder(StoredBytes& input) : input_(input) {}
    ~Bzip2Decoder() override {
        if (streamOpen_) BZ2_bzDecompressEnd(&stream_);
    }

    std::size_t read(char* buffer, std::size_t bytes) override {
        std::size_t done = 0;
        while (done < bytes && !ended_) {
            if (!streamOpen_ && !startStream()) break;
            bool inputEnded = input_.available() == 0 && !input_.refill();
            std::size_t offered = std::min(input_.available(), MaxStep),
                        room = std::min(bytes - done, MaxStep);
            stream_.next_in = const_cast<char*>(reinterpret_cast<const char*>(input_.data()));
            stream_.avail_in = static_cast<unsigned>(offered);
            stream_.next_out = buffer + done;
            stream_.avail_out = static_cast<unsigned>(room);
            int status = BZ2_bzDecompress(&stream_);
            bool progress = stream_.avail_in < offered || stream_.avail_out < room;
            input_.consume(offered - stream_.avail_in);
            done += room - stream_.avail_out;
            if (status == BZ_STREAM_END) {
                BZ2_bzDecompressEnd(&stream_);
                streamOpen_ = false;
            } else if (status != BZ_OK) {
                throwCorrupt(input_, "bzip2", bzip2Reason(status));
            } else if (inputEnded && !progress) {
                throwTruncated(input_, "bzip2", "stream");
            }
        }
        return done;
    }

private:
    // Opens the next stream; false at the end of the input.
    bool startStream() {
        if (!nextMemberFollows(input_, "bzip2", "BZh")) {
            ended_ = true;
            return false;
        }
        stream_ = {};
        int status = BZ2_bzDecompressInit(&stream_, 0, 0);
        if (status != BZ_OK) throw IoError(input_.name(), "cannot start libbz2: " + bzip2Reason(status));
        streamOpen_ = true;
        return true;
    }

    StoredBytes& input_;
    bz_stream stream_{};
    bool streamOpen_ = false, ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> bzip2Decoder(StoredBytes& input) { return std::make_unique<Bzip2Decoder>(input); }
