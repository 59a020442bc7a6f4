// The windows of a chunk as fixed-size keys: each window's bytes up to its
// first NUL, packed big-endian so that the keys sort as the texts, and a
// sorted array of keys read as the distinct texts with their counts.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/count_source.h"
#include "counting/big_endian_key.h"
#include "formats/record_codec.h"

namespace window_keys_detail {

inline bool hasZeroByte(std::uint64_t word) {
    return ((word - 0x0101010101010101u) & ~word & 0x8080808080808080u) != 0;
}

// The window's bytes, the first lowest, cut at the first NUL: the lowest
// high bit of the zero-byte mask marks the first zero byte exactly (higher
// ones may be false), and the bytes from there on are dropped.
inline std::uint64_t cutAtFirstNul(std::uint64_t window) {
    std::uint64_t zeroBytes = (window - 0x0101010101010101u) & ~window & 0x8080808080808080u;
    return window & (((zeroBytes & (0 - zeroBytes)) >> 7) - 1);
}

inline std::uint64_t lowBytesMask(int n) {
    return n >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1;
}

}  // namespace window_keys_detail

// The windows of one chunk, read from a buffer that holds `available` bytes.
struct Windows {
    const char* data;
    std::int64_t available;
    int n;

    // The bytes at p + offset, at most 8 and not past the buffer, packed
    // with the first byte lowest.
    std::uint64_t load(std::int64_t p, int offset, int bytes) const {
        std::uint64_t word = 0;
        if (bytes <= 0) return 0;
        if (p + offset + 8 <= available)
            std::memcpy(&word, data + p + offset, sizeof word);
        else
            std::memcpy(&word, data + p + offset, static_cast<std::size_t>(bytes));
        return word & window_keys_detail::lowBytesMask(bytes);
    }
};

// A window of up to 8 x Words bytes, cut at its first NUL.
template <std::size_t Words>
struct WindowKey {
    std::uint64_t words[Words];
    bool operator==(const WindowKey&) const = default;
    std::size_t text(char* text) const { return BigEndianWords<Words>::text(words, text); }

    static WindowKey at(const Windows& windows, std::int64_t p) {
        using namespace window_keys_detail;
        WindowKey key;
        bool cut = false;
        for (std::size_t i = 0; i < Words; ++i) {
            int offset = static_cast<int>(8 * i);
            std::uint64_t bytes = cut ? 0 : windows.load(p, offset, std::min(8, windows.n - offset));
            cut = cut || hasZeroByte(bytes);
            key.words[i] = __builtin_bswap64(cutAtFirstNul(bytes));
        }
        return key;
    }
};

// The distinct texts of sorted keys, with their numbers of equal neighbours.
template <std::size_t Words>
class SortedKeys final : public CountSource {
public:
    SortedKeys(const WindowKey<Words>* keys, std::size_t size) : keys_(keys), size_(size) {}
    // A binary search: equal keys have equal texts, so the first key not
    // below `from` starts its group.
    void skipTowards(std::string_view from) override {
        position_ = static_cast<std::size_t>(
            std::partition_point(keys_, keys_ + size_,
                                 [&](const WindowKey<Words>& key) {
                                     return std::string_view(textBytes_, key.text(textBytes_)) < from;
                                 }) -
            keys_);
    }
    bool next() override {
        if (position_ == size_) return false;
        std::size_t end = position_ + 1;
        while (end < size_ && keys_[end] == keys_[position_]) ++end;
        text_ = std::string_view(textBytes_, keys_[position_].text(textBytes_));
        count_ = static_cast<std::int64_t>(end - position_);
        position_ = end;
        return true;
    }

    // The most bytes a run of the keys takes, found without making their
    // texts.
    static std::int64_t largestRunBytes(const WindowKey<Words>* keys, std::size_t count) {
        std::int64_t runBytes = 0;
        for (std::size_t position = 0, end; position < count; position = end) {
            for (end = position + 1; end < count && keys[end] == keys[position];) ++end;
            runBytes += static_cast<std::int64_t>(mostRecordBytes(8 * Words, end - position));
        }
        return runBytes;
    }

private:
    const WindowKey<Words>* keys_;
    std::size_t size_, position_ = 0;
    char textBytes_[8 * Words];
};