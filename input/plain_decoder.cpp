#include <algorithm>
#include <cstring>

#include "input/decoder.h"
#include "input/stored_bytes.h"

namespace {

// Large reads go from the descriptor straight into the caller's buffer;
// small ones through the stored buffer, so that they cost no call each.
class PlainDecoder : public Decoder {
public:
    explicit PlainDecoder(StoredBytes& input) : input_(input) {}

    std::size_t read(char* buffer, std::size_t bytes) override {
        std::size_t done = 0;
        while (done < bytes) {
            if (bytes - done >= input_.capacity() / 2)
                return done + input_.readInto(buffer + done, bytes - done);
            if (input_.available() == 0 && !input_.refill()) break;
            std::size_t step = std::min(bytes - done, input_.available());
            std::memcpy(buffer + done, input_.data(), step);
            input_.consume(step);
            done += step;
        }
        return done;
    }

private:
    StoredBytes& input_;
};

}  // namespace

std::unique_ptr<Decoder> plainDecoder(StoredBytes& input) { return std::make_unique<PlainDecoder>(input); }
