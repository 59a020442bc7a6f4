// What the sections of a part file share beside the header's own fields:
// checked reads at an offset, the trailer, and the reasons a
// reader gives for a file it refuses. The body's records are coded in
// formats/record_codec.h.
#pragma once

#include <cstdint>
#include <string>

#include "common/varint.h"
#include "formats/part_header.h"

namespace part_format {

inline const std::string NotAPartFile = "not a part file";
inline const std::string Truncated = "truncated part file";
inline const std::string BadChecksum = "damaged part file (checksum)";
inline const std::string BadStructure = "damaged part file (inconsistent contents)";

// Reads exactly `length` bytes at `offset` of the open file; a short file
// is a truncated part. Throws IoError naming the path.
void readExactly(int fd, const std::string& path, std::int64_t offset, char* destination, std::size_t length);

// The trailer, at the very end of the file, so that a truncated file is
// known at open: u64 index offset, u64 index bytes, u64 blocks, i64
// entries, i64 total count, u64 checksum of these five, and the magic and
// version again.
inline constexpr std::size_t TrailerBytes = 56;
struct PartTrailer {
    std::int64_t indexOffset = 0, indexBytes = 0, blocks = 0, entries = 0, totalCount = 0;
};
std::string encodeTrailer(const PartTrailer& trailer);
// The trailer of the open file of `size` bytes (at least TrailerBytes),
// its checksum checked (the caller checks its fields against the file). A
// file whose end holds no trailer is refused as truncated, or, when a
// whole trailer lies shortly before its end, as damaged by the bytes after
// it. Throws IoError naming the path.
PartTrailer readTrailer(int fd, const std::string& path, std::int64_t size);

}  // namespace part_format
