// Entries of a sorted count source taken a batch at a time, each with the
// key a merge compares: its first sixteen bytes as two big-endian numbers
// and its size. Texts of up to 16 bytes are their key; longer ones are
// kept whole beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// The key of a text: (word, second, size) ordered as numbers orders texts as
// memcmp does when both are at most 16 bytes long (zero padding sorts a
// text before its extensions, NUL bytes included), and whenever the words
// differ; texts of more than 16 bytes with equal words compare their bytes.
struct TextKey {
    std::uint64_t word = 0, second = 0, size = 0;
};

namespace record_batch_detail {
inline constexpr std::uint64_t Kept[9] = {0,
                                          0xFF00000000000000u,
                                          0xFFFF000000000000u,
                                          0xFFFFFF0000000000u,
                                          0xFFFFFFFF00000000u,
                                          0xFFFFFFFFFF000000u,
                                          0xFFFFFFFFFFFF0000u,
                                          0xFFFFFFFFFFFFFF00u,
                                          0xFFFFFFFFFFFFFFFFu};
inline std::uint64_t bigEndian(const char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    return __builtin_bswap64(word);
}
}  // namespace record_batch_detail

// The key of a text that has at least 16 readable bytes from its start,
// whatever lies past its end.
inline TextKey paddedTextKey(const char* text, std::size_t size) {
    using namespace record_batch_detail;
    std::uint64_t word = bigEndian(text) & Kept[size < 8 ? size : 8];
    std::uint64_t second = size <= 8 ? 0 : bigEndian(text + 8) & Kept[size < 16 ? size - 8 : 8];
    return {word, second, size};
}

// A text's first 16 bytes as one big-endian number, zero padded.
__extension__ typedef unsigned __int128 KeyBytes;

// The first `bytes` (at most 16) bytes of the number, the others zero.
inline KeyBytes keepFirst(KeyBytes value, std::size_t bytes) {
    using record_batch_detail::Kept;
    std::size_t high = bytes < 8 ? bytes : 8, low = bytes < 16 ? bytes - high : 8;
    return (value & (KeyBytes{Kept[high]} << 64)) | (value & Kept[low]);
}

// The first 16 bytes of the text made of the first `shared` bytes of the
// one before (whose first 16 bytes are `previous`) and then `restBytes`
// bytes at `rest`, of which at least 16 are readable when `readable`
// (else the bytes are read one by one): a sorted run's texts have their
// keys without reading back the text just built, which a processor cannot
// do until the write of it is done.
inline KeyBytes followingKey(KeyBytes previous, std::size_t shared, const unsigned char* rest,
                             std::size_t restBytes, bool readable) {
    using namespace record_batch_detail;
    if (shared >= 16) return previous;
    KeyBytes bytes;
    if (readable) [[likely]] {
        bytes = KeyBytes{bigEndian(reinterpret_cast<const char*>(rest))} << 64 |
                bigEndian(reinterpret_cast<const char*>(rest) + 8);
    } else {
        char copy[16] = {};
        std::memcpy(copy, rest, restBytes < 16 ? restBytes : 16);
        bytes = KeyBytes{bigEndian(copy)} << 64 | bigEndian(copy + 8);
    }
    return keepFirst(previous, shared) | keepFirst(bytes, restBytes) >> (8 * shared);
}

inline TextKey keyOf(KeyBytes bytes, std::size_t size) {
    return {static_cast<std::uint64_t>(bytes >> 64), static_cast<std::uint64_t>(bytes), size};
}

inline TextKey textKey(std::string_view text) {
    char bytes[16] = {};
    // An empty view may point nowhere, which memcpy may not be given.
    if (!text.empty()) std::memcpy(bytes, text.data(), text.size() < 16 ? text.size() : 16);
    return paddedTextKey(bytes, text.size());
}

// The first min(size, 16) bytes of the text, from its key, into `to`
// (16 bytes are written).
inline void keyBytes(const TextKey& key, char* to) {
    std::uint64_t words[2] = {__builtin_bswap64(key.word), __builtin_bswap64(key.second)};
    std::memcpy(to, words, 16);
}

// Up to Capacity entries, in the arrays a merge reads one entry at a time,
// and the bytes of their long texts up to about LongTextBytes: a merge
// holds a batch a source, so a batch of long texts holds fewer of them.
struct RecordBatch {
    static constexpr std::size_t Capacity = 256;
    // A batch is full once its long texts take this much (and one more
    // text, which may be of any size).
    static constexpr std::size_t LongTextBytes = 16 << 10;
    // What a batch holds beside the last of its long texts.
    static constexpr std::size_t Bytes = Capacity * (4 * 8 + sizeof(std::size_t)) + LongTextBytes;

    // The arrays are filled before they are read: a merge of many sources
    // makes a batch for each, and zeroing them all would cost more than
    // the merge of small ones.
    RecordBatch() {}

    std::size_t size = 0;
    std::uint64_t words[Capacity], seconds[Capacity], sizes[Capacity];
    std::int64_t counts[Capacity];
    std::size_t longAt[Capacity];  // in longTexts, for texts of more than 16 bytes
    std::string longTexts;

    void clear() {
        size = 0;
        longTexts.clear();
    }
    bool full() const { return size == Capacity || longTexts.size() >= LongTextBytes; }
    TextKey key(std::size_t i) const { return {words[i], seconds[i], sizes[i]}; }
    // The whole text of entry i when it is longer than 16 bytes.
    std::string_view longText(std::size_t i) const { return {longTexts.data() + longAt[i], sizes[i]}; }

    void add(const TextKey& key, const char* text, std::int64_t count) {
        words[size] = key.word;
        seconds[size] = key.second;
        sizes[size] = key.size;
        counts[size] = count;
        if (key.size > 16) [[unlikely]] {
            longAt[size] = longTexts.size();
            longTexts.append(text, key.size);
        }
        ++size;
    }
    void add(std::string_view text, std::int64_t count) { add(textKey(text), text.data(), count); }
};
