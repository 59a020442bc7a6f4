// The head of a part file: what was counted (mode, N, the range) and of
// which input, with the input's identity, so that a merge never mixes parts
// of two files or of two versions of one file. Also the checksum and the
// little-endian numbers every section of a part file uses.
#pragma once

#include <cstdint>
#include <string>

// What tells one input, and one version of it, from another: a part of the
// file as it was and a part of it after an edit differ in at least the
// modification time, also when the size and the sampled blocks stay.
struct InputIdentity {
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;  // the modification time since 1970
    // A hash of the size and of fixed blocks of the bytes (the same blocks
    // whatever part is counted).
    std::uint64_t contentSample = 0;
    bool operator==(const InputIdentity&) const = default;
};

// The identity of the file at the path now. Throws IoError naming the path.
InputIdentity inputIdentity(const std::string& path);

struct PartHeader {
    char mode = 'c';  // 'c' characters, 'w' words
    std::int32_t n = 0;
    InputIdentity input;
    std::int64_t from = 0, to = 0;  // the range of starts counted
    // The input's path, absolute and normal, as the part was counted.
    // Parts of one input carry one name: two files with equal bytes under
    // two names are two inputs.
    std::string inputName;
};

// The checksum of blocks, index, header and trailer. Each 8-byte word goes
// in by steps that are one-to-one in the state, and the length goes in
// last, so any change within one word (one flipped byte or bit) always
// changes the sum, and a cut or grown range nearly always does.
std::uint64_t partChecksum(const char* bytes, std::size_t length);

namespace part_format {

inline constexpr std::uint8_t Version = 2;
inline constexpr char Magic[8] = {'N', 'G', 'P', 'A', 'R', 'T', '\0', static_cast<char>(Version)};
inline constexpr std::size_t MagicBytes = 7;  // without the version byte
// The header's fixed fields; its name and checksum follow.
inline constexpr std::size_t FixedHeaderBytes = 64;
inline constexpr std::size_t HeaderChecksumBytes = 8;

void putU64(std::string& out, std::uint64_t value);
void putU32(std::string& out, std::uint32_t value);
std::uint64_t getU64(const char* in);
std::uint32_t getU32(const char* in);

// The header as written: magic and version, u32 header bytes, mode, three
// zero bytes, i32 N, u32 name bytes, i64 input size, i64 modification time,
// u64 content sample, i64 from, i64 to, the name, u64 checksum of the bytes
// before it.
std::string encodeHeader(const PartHeader& header);
// The header's total size from its fixed fields (FixedHeaderBytes of them),
// or 0 when they are inconsistent.
std::size_t headerSize(const char* fixed);
// The header from all its bytes; false when their checksum is wrong (the
// caller checks the fields).
bool decodeHeader(const std::string& bytes, PartHeader& header);

}  // namespace part_format
