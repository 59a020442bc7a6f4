// Texts of up to 8 x Words bytes as big-endian words, zero padded: texts
// hold no NUL, so comparing the words compares the texts in memcmp order (a
// text before its extensions), and the radix sort reads their bytes most
// significant first. The window sorter's keys and the count table's sorted
// slots both take this form.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

template <std::size_t Words>
struct BigEndianKey {
    std::uint64_t words[Words];

    bool operator==(const BigEndianKey&) const = default;
    bool operator<(const BigEndianKey& other) const {
        for (std::size_t i = 0; i + 1 < Words; ++i)
            if (words[i] != other.words[i]) return words[i] < other.words[i];
        return words[Words - 1] < other.words[Words - 1];
    }
    unsigned byteAt(std::size_t i) const {
        return static_cast<unsigned>(words[i / 8] >> (56 - 8 * (i % 8))) & 0xFF;
    }
    std::size_t sharedBytes(const BigEndianKey& other) const {
        for (std::size_t i = 0; i < Words; ++i)
            if (std::uint64_t differ = words[i] ^ other.words[i])
                return 8 * i + static_cast<std::size_t>(std::countl_zero(differ)) / 8;
        return 8 * Words;
    }

    // The text's bytes into `text`, which has room for 8 x Words; returns
    // its length.
    std::size_t text(char* text) const {
        std::size_t length = 0;
        for (std::size_t w = 0; w < Words; ++w) {
            std::uint64_t bytes = __builtin_bswap64(words[w]);
            std::memcpy(text + 8 * w, &bytes, 8);
            if (words[w] != 0) length = 8 * w + 8 - static_cast<std::size_t>(std::countr_zero(words[w])) / 8;
        }
        return length;
    }
};

// The radix sort's traits (tallomer/radix_sort.h) for records ordered by a
// BigEndianKey that keyOf(record) returns.
template <typename Record, std::size_t Words, auto keyOf>
struct BigEndianOrder {
    static constexpr std::size_t KeyBytes = 8 * Words;
    static unsigned byteAt(const Record& r, std::size_t i) { return keyOf(r).byteAt(i); }
    static std::size_t sharedBytes(const Record& a, const Record& b) {
        return keyOf(a).sharedBytes(keyOf(b));
    }
    bool less(const Record& a, const Record& b) const { return keyOf(a) < keyOf(b); }
};
