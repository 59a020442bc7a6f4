#include "formats/part_header.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/file_io.h"

namespace {

constexpr std::int64_t SampleBlockBytes = 64 << 10;
constexpr int SampleBlocks = 10;  // the start, the end and 8 between

std::uint64_t mixStep(std::uint64_t state) {
    state *= 0x9E3779B97F4A7C15u;
    return state ^ (state >> 29);
}

}  // namespace

std::uint64_t partChecksum(const char* bytes, std::size_t length) {
    std::uint64_t state = 0x243F6A8885A308D3u;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        state = mixStep(state ^ word);
    }
    if (i < length) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + i, length - i);
        state = mixStep(state ^ word);
    }
    return mixStep(state ^ length);
}

InputIdentity inputIdentity(const std::string& path) {
    InputFile input(path);
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) throw IoError(path, systemReason());
    InputIdentity identity;
    identity.size = input.size();
    identity.modifiedNanoseconds =
        std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec;
    std::int64_t blockBytes = std::min(identity.size, SampleBlockBytes);
    std::unique_ptr<char[]> block(new char[static_cast<std::size_t>(SampleBlockBytes)]);
    std::uint64_t state = mixStep(static_cast<std::uint64_t>(identity.size));
    // A file of one block or less is every block: read once (a workflow of
    // thousands of small inputs takes every identity twice).
    std::uint64_t whole = 0;
    if (blockBytes > 0 && blockBytes == identity.size) {
        input.readAt(0, block.get(), blockBytes);
        whole = partChecksum(block.get(), static_cast<std::size_t>(blockBytes));
    }
    for (int i = 0; i < SampleBlocks && blockBytes > 0; ++i) {
        if (blockBytes == identity.size) {
            state = mixStep(state ^ whole);
            continue;
        }
        std::int64_t offset = (identity.size - blockBytes) / (SampleBlocks - 1) * i;
        if (i == SampleBlocks - 1) offset = identity.size - blockBytes;
        input.readAt(offset, block.get(), blockBytes);
        state = mixStep(state ^ partChecksum(block.get(), static_cast<std::size_t>(blockBytes)));
    }
    input.close();
    identity.contentSample = state;
    return identity;
}

namespace part_format {

void putU64(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>(value >> (8 * i));
}
void putU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(value >> (8 * i));
}
std::uint64_t getU64(const char* in) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= std::uint64_t{static_cast<unsigned char>(in[i])} << (8 * i);
    return value;
}
std::uint32_t getU32(const char* in) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= std::uint32_t{static_cast<unsigned char>(in[i])} << (8 * i);
    return value;
}

std::string encodeHeader(const PartHeader& header) {
    std::string out(Magic, sizeof Magic);
    putU32(out, static_cast<std::uint32_t>(FixedHeaderBytes + header.inputName.size() + HeaderChecksumBytes));
    out += header.mode;
    out.append(3, '\0');
    putU32(out, static_cast<std::uint32_t>(header.n));
    putU32(out, static_cast<std::uint32_t>(header.inputName.size()));
    putU64(out, static_cast<std::uint64_t>(header.input.size));
    putU64(out, static_cast<std::uint64_t>(header.input.modifiedNanoseconds));
    putU64(out, header.input.contentSample);
    putU64(out, static_cast<std::uint64_t>(header.from));
    putU64(out, static_cast<std::uint64_t>(header.to));
    out += header.inputName;
    putU64(out, partChecksum(out.data(), out.size()));
    return out;
}

std::size_t headerSize(const char* fixed) {
    std::uint64_t nameBytes = getU32(fixed + 20), bytes = getU32(fixed + 8);
    return bytes == FixedHeaderBytes + nameBytes + HeaderChecksumBytes ? bytes : 0;
}

bool decodeHeader(const std::string& bytes, PartHeader& header) {
    std::size_t checked = bytes.size() - HeaderChecksumBytes;
    if (partChecksum(bytes.data(), checked) != getU64(bytes.data() + checked)) return false;
    header.mode = bytes[12];
    header.n = static_cast<std::int32_t>(getU32(bytes.data() + 16));
    header.input.size = static_cast<std::int64_t>(getU64(bytes.data() + 24));
    header.input.modifiedNanoseconds = static_cast<std::int64_t>(getU64(bytes.data() + 32));
    header.input.contentSample = getU64(bytes.data() + 40);
    header.from = static_cast<std::int64_t>(getU64(bytes.data() + 48));
    header.to = static_cast<std::int64_t>(getU64(bytes.data() + 56));
    header.inputName = bytes.substr(FixedHeaderBytes, checked - FixedHeaderBytes);
    return true;
}

}  // namespace part_format
