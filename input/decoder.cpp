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
