#include "formats/part_format.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "common/file_io.h"

namespace part_format {

void readExactly(int fd, const std::string& path, std::int64_t offset, char* destination,
                 std::size_t length) {
    while (length > 0) {
        ssize_t got = pread(fd, destination, length, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw IoError(path, systemReason());
        if (got == 0) throw IoError(path, Truncated);
        destination += got;
        offset += got;
        length -= static_cast<std::size_t>(got);
    }
}

namespace {

constexpr std::size_t TrailerFieldsBytes = 40;
// How far before a file's end a trailer is looked for when the end holds
// none: bytes appended to a part are told from a cut part up to this many.
constexpr std::int64_t AppendedBytesSought = std::int64_t{1} << 20;

bool endsWithMagic(const char* trailer) {
    return std::memcmp(trailer + TrailerBytes - sizeof Magic, Magic, sizeof Magic) == 0;
}

bool checksumHolds(const char* trailer) {
    return partChecksum(trailer, TrailerFieldsBytes) == getU64(trailer + TrailerFieldsBytes);
}

PartTrailer fieldsOf(const char* trailer) {
    auto field = [&](int i) { return static_cast<std::int64_t>(getU64(trailer + 8 * i)); };
    return {field(0), field(1), field(2), field(3), field(4)};
}

// Where the last trailer ends, among the file's last bytes, that describes
// a file ending there.
std::optional<std::int64_t> earlierTrailerEnd(int fd, const std::string& path, std::int64_t size) {
    std::int64_t span = std::min(size, AppendedBytesSought);
    std::string bytes(static_cast<std::size_t>(span), '\0');
    readExactly(fd, path, size - span, bytes.data(), bytes.size());
    for (std::int64_t end = span - 1; end >= static_cast<std::int64_t>(TrailerBytes); --end) {
        const char* trailer = bytes.data() + end - static_cast<std::int64_t>(TrailerBytes);
        if (!endsWithMagic(trailer) || !checksumHolds(trailer)) continue;
        PartTrailer fields = fieldsOf(trailer);
        std::uint64_t described = static_cast<std::uint64_t>(fields.indexOffset) +
                                  static_cast<std::uint64_t>(fields.indexBytes) + TrailerBytes;
        if (described == static_cast<std::uint64_t>(size - span + end)) return size - span + end;
    }
    return std::nullopt;
}

}  // namespace

std::string encodeTrailer(const PartTrailer& trailer) {
    std::string bytes;
    for (std::int64_t field :
         {trailer.indexOffset, trailer.indexBytes, trailer.blocks, trailer.entries, trailer.totalCount})
        putU64(bytes, static_cast<std::uint64_t>(field));
    putU64(bytes, partChecksum(bytes.data(), bytes.size()));
    bytes.append(Magic, sizeof Magic);
    return bytes;
}

PartTrailer readTrailer(int fd, const std::string& path, std::int64_t size) {
    char trailer[TrailerBytes];
    readExactly(fd, path, size - static_cast<std::int64_t>(TrailerBytes), trailer, TrailerBytes);
    const char* magic = trailer + TrailerBytes - sizeof Magic;
    if (std::memcmp(magic, Magic, MagicBytes) == 0 && magic[MagicBytes] != Magic[MagicBytes])
        throw IoError(path, "part file of an unknown version " +
                                std::to_string(static_cast<unsigned char>(magic[MagicBytes])));
    if (!endsWithMagic(trailer)) {
        if (std::optional<std::int64_t> end = earlierTrailerEnd(fd, path, size))
            throw IoError(path,
                          "damaged part file (" + std::to_string(size - *end) + " bytes after its end)");
        throw IoError(path, Truncated);
    }
    if (!checksumHolds(trailer)) throw IoError(path, BadChecksum);
    return fieldsOf(trailer);
}

}  // namespace part_format
