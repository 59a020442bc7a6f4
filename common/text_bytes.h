// The bytes of texts, most of them short: eight bytes a step or a few
// moves of fixed size instead of a library call.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

// The number of leading bytes the texts share.
inline std::size_t sharedPrefix(std::string_view a, std::string_view b) {
    std::size_t limit = std::min(a.size(), b.size()), i = 0;
    for (; i + 8 <= limit; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) return i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
    }
    while (i < limit && a[i] == b[i]) ++i;
    return i;
}

// Overlapping moves, all within the bytes; `to` and `from` must not
// overlap.
inline void copyShort(char* to, const char* from, std::size_t length) {
    auto move = [&](std::size_t at, auto width) {
        decltype(width) bytes;
        std::memcpy(&bytes, from + at, sizeof bytes);
        std::memcpy(to + at, &bytes, sizeof bytes);
    };
    if (length > 24) {
        std::memcpy(to, from, length);
    } else if (length >= 8) {
        move(0, std::uint64_t{});
        if (length > 16) move(8, std::uint64_t{});
        move(length - 8, std::uint64_t{});
    } else if (length >= 4) {
        move(0, std::uint32_t{});
        move(length - 4, std::uint32_t{});
    } else if (length > 0) {
        to[0] = from[0];
        to[length / 2] = from[length / 2];
        to[length - 1] = from[length - 1];
    }
}

// The bytes of a text that is rebuilt from shared prefixes and suffixes.
class TextBuffer {
public:
    std::string_view view() const { return {bytes_.get(), length_}; }
    // Keeps the first `shared` bytes and makes room for `length` in all.
    char* keepAndResize(std::size_t shared, std::size_t length) {
        if (length > capacity_) {
            std::size_t grown = std::max<std::size_t>({length, 2 * capacity_, 64});
            std::unique_ptr<char[]> bytes(new char[grown]);
            if (shared > 0) std::memcpy(bytes.get(), bytes_.get(), shared);
            bytes_ = std::move(bytes);
            capacity_ = grown;
        }
        length_ = length;
        return bytes_.get();
    }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t capacity_ = 0, length_ = 0;
};
