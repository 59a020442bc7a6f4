// What turns the stored bytes into the data: one decoder for each
// compressed format, and one that passes plain bytes through. Each takes
// its input from a StoredBytes it does not own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class StoredBytes;

class Decoder {
public:
    virtual ~Decoder() = default;
    // Fills `buffer` with up to `bytes` of data; fewer only at the end of the
    // data, 0 once it has ended. A corrupt or truncated input is an IoError
    // naming the input.
    virtual std::size_t read(char* buffer, std::size_t bytes) = 0;
};

std::unique_ptr<Decoder> plainDecoder(StoredBytes& input);
// Every member, in order; bytes after a member that do not begin another
// are corrupt.
std::unique_ptr<Decoder> gzipDecoder(StoredBytes& input);
// Every frame, skippable ones skipped. A frame whose window needs more than
// `memoryLimit` bytes (taken down to a power of two) is refused.
std::unique_ptr<Decoder> zstdDecoder(StoredBytes& input, std::int64_t memoryLimit);
// Every stream and the padding between them. A stream that needs more than
// `memoryLimit` bytes to decode is refused.
std::unique_ptr<Decoder> xzDecoder(StoredBytes& input, std::int64_t memoryLimit);
// Every stream, in order; bytes after a stream that do not begin another
// are corrupt.
std::unique_ptr<Decoder> bzip2Decoder(StoredBytes& input);

// For the decoders: the failures, worded alike for every format.
[[noreturn]] void throwCorrupt(const StoredBytes& input, const char* format, const std::string& reason);
[[noreturn]] void throwTruncated(const StoredBytes& input, const char* format, const char* unit);
// Sound data that asks for more memory than the decoder may take, or for
// memory that could not be had: no fault of the data, so never "corrupt".
// Both say the bytes asked for, in MiB rounded up.
[[noreturn]] void throwBeyondMemoryLimit(const StoredBytes& input, const char* format, std::uint64_t needs,
                                         std::uint64_t limit);
[[noreturn]] void throwOutOfMemory(const StoredBytes& input, const char* format, std::uint64_t needs);
// After a member or stream ends: whether another begins with `magic` (at
// the end of the input: none). Bytes that do not begin one are corrupt.
bool nextMemberFollows(StoredBytes& input, const char* format, std::string_view magic);
