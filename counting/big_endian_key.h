// Texts of up to 8 x Words bytes as big-endian words, zero padded: texts
// hold no NUL, so comparing the words compares the texts in memcmp order (a
// text before its extensions), and the radix sort reads their bytes most
// significant first. The window sorter's keys and the word table's sorted
// slots both take this form.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

template <std::size_t Words>
struct BigEndianWords {
    static unsigned byteAt(const std::uint64_t* words, std::size_t i) {
        return static_cast<unsigned>(words[i / 8] >> (56 - 8 * (i % 8))) & 0xFF;
    }
    static std::size_t sharedBytes(const std::uint64_t* a, const std::uint64_t* b) {
        for (std::size_t i = 0; i < Words; ++i)
            if (std::uint64_t differ = a[i] ^ b[i])
                return 8 * i + static_cast<std::size_t>(std::countl_zero(differ)) / 8;
        return 8 * Words;
    }
    static bool less(const std::uint64_t* a, const std::uint64_t* b) {
        for (std::size_t i = 0; i + 1 < Words; ++i)
            if (a[i] != b[i]) return a[i] < b[i];
        return a[Words - 1] < b[Words - 1];
    }
    // The text's bytes into `text`, which has room for 8 x Words; returns
    // its length.
    static std::size_t text(const std::uint64_t* words, char* text) {
        std::size_t length = 0;
        for (std::size_t w = 0; w < Words; ++w) {
            std::uint64_t bytes = __builtin_bswap64(words[w]);
            std::memcpy(text + 8 * w, &bytes, 8);
            if (words[w] != 0) length = 8 * w + 8 - static_cast<std::size_t>(std::countr_zero(words[w])) / 8;
        }
        return length;
    }
};

// The radix sort's traits (counting/radix_sort.h) for records ordered by
// the big-endian words that wordsOf(record) points to.
template <typename Record, std::size_t Words, auto wordsOf>
struct BigEndianOrder {
    using Key = BigEndianWords<Words>;
    static constexpr std::size_t KeyBytes = 8 * Words;
    static unsigned byteAt(const Record& r, std::size_t i) { return Key::byteAt(wordsOf(r), i); }
    static std::size_t sharedBytes(const Record& a, const Record& b) {
        return Key::sharedBytes(wordsOf(a), wordsOf(b));
    }
    bool less(const Record& a, const Record& b) const { return Key::less(wordsOf(a), wordsOf(b)); }
};
