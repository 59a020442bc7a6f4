#include "input/decoder.h"

#include "common/io_error.h"
#include "input/stored_bytes.h"

void throwCorrupt(const StoredBytes& input, const char* format, const std::string& reason) {
    throw IoError(input.name(), std::string("corrupt ") + format + " data: " + reason);
}

void throwTruncated(const StoredBytes& input, const char* format, const char* unit) {
    throw IoError(input.name(),
                  std::string("truncated ") + format + " data: the input ends inside a " + unit);
}

namespace {

std::string mebibytes(std::uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB"; }

}  // namespace

void throwBeyondMemoryLimit(const StoredBytes& input, const char* format, std::uint64_t needs,
                            std::uint64_t limit) {
    throw IoError(input.name(), std::string(format) + " data that needs " + mebibytes(needs) +
                                    " of memory to decompress, more than the limit of " + mebibytes(limit));
}

void throwOutOfMemory(const StoredBytes& input, const char* format, std::uint64_t needs) {
    throw IoError(input.name(), "out of memory: cannot allocate the " + mebibytes(needs) + " that " + format +
                                    " data needs to decompress");
}

bool nextMemberFollows(StoredBytes& input, const char* format, std::string_view magic) {
    input.fill(magic.size());
    std::string_view next = input.view().substr(0, magic.size());
    if (next.empty()) return false;
    if (next == magic) return true;
    std::int64_t offset = input.bytesRead() - static_cast<std::int64_t>(input.available());
    if (next.size() < magic.size() && magic.starts_with(next))
        throw IoError(input.name(), std::string("truncated ") + format + " data: the input ends at byte " +
                                        std::to_string(input.bytesRead()) +
                                        " inside the header of another member");
    throwCorrupt(input, format, "the bytes from byte " + std::to_string(offset) + " on are not " + format);
}
