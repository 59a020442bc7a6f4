#include <zlib.h>

#include <algorithm>
#include <string>

#include "common/io_error.h"
#include "input/decoder.h"
#include "input/stored_bytes.h"

namespace {

// zlib counts in unsigned int; a call takes at most this much.
constexpr std::size_t MaxStep = std::size_t{1} << 30;

class GzipDecoder : public Decoder {
public:
    explicit GzipDecoder(StoredBytes& input) : input_(input) {
        // 16 + 15: a gzip header and trailer, a window of up to 32 KiB.
        int status = inflateInit2(&stream_, 16 + MAX_WBITS);
        if (status != Z_OK) throw IoError(input_.name(), std::string("cannot start zlib: ") + zError(status));
    }
    ~GzipDecoder() override { inflateEnd(&stream_); }

    std::size_t read(char* buffer, std::size_t bytes) override {
        std::size_t done = 0;
        while (done < bytes && !ended_) {
            if (betweenMembers_) {
                if (!nextMemberFollows(input_, "gzip", "\x1F\x8B")) {
                    ended_ = true;
                    break;
                }
                inflateReset(&stream_);
                betweenMembers_ = false;
            }
            if (input_.available() == 0) input_.refill();
            std::size_t offered = std::min(input_.available(), MaxStep),
                        room = std::min(bytes - done, MaxStep);
            stream_.next_in = const_cast<Bytef*>(input_.data());
            stream_.avail_in = static_cast<uInt>(offered);
            stream_.next_out = reinterpret_cast<Bytef*>(buffer + done);
            stream_.avail_out = static_cast<uInt>(room);
            int status = inflate(&stream_, Z_NO_FLUSH);
            input_.consume(offered - stream_.avail_in);
            done += room - stream_.avail_out;
            if (status == Z_STREAM_END) {
                betweenMembers_ = true;
            } else if (status == Z_BUF_ERROR) {
                // No progress with room to write: only when the input has
                // ended, as it is refilled whenever it runs out.
                throwTruncated(input_, "gzip", "member");
            } else if (status != Z_OK) {
                throwCorrupt(input_, "gzip", stream_.msg ? stream_.msg : zError(status));
            }
        }
        return done;
    }

private:
    StoredBytes& input_;
    z_stream stream_{};
    bool betweenMembers_ = true, ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> gzipDecoder(StoredBytes& input) { return std::make_unique<GzipDecoder>(input); }
