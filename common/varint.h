// The numbers of runs, arena records and part files: 7 bits a byte, low bits
// first, a high bit on every byte but the last.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

inline std::size_t varintBytes(std::uint64_t value) {
    return static_cast<std::size_t>(std::bit_width(value | 1) + 6) / 7;
}

inline char* appendVarint(char* out, std::uint64_t value) {
    while (value >= 0x80) {
        *out++ = static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    *out++ = static_cast<char>(value);
    return out;
}

inline void putVarint(std::string& out, std::uint64_t value) {
    char bytes[10];
    out.append(bytes, static_cast<std::size_t>(appendVarint(bytes, value) - bytes));
}

// Reads a number that lies whole in memory (written by this process) and
// moves `in` past it.
inline std::uint64_t readVarint(const unsigned char*& in) {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        value |= std::uint64_t{*in & 0x7Fu} << shift;
        if (*in++ < 0x80) return value;
    }
}

// Reads a number of bytes from elsewhere: it must end before `end` and fit
// in 64 bits, or the answer is false.
inline bool readBoundedVarint(const unsigned char*& in, const unsigned char* end, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && in < end; shift += 7) {
        unsigned char byte = *in++;
        if (shift == 63 && byte > 1) return false;
        value |= std::uint64_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) return true;
    }
    return false;
}

// readBoundedVarint for numbers that mostly take one byte.
inline bool readVarintFast(const unsigned char*& in, const unsigned char* end, std::uint64_t& value) {
    if (in < end && *in < 0x80) [[likely]] {
        value = *in++;
        return true;
    }
    return readBoundedVarint(in, end, value);
}
