// The word table's hash of a text, keyed with keys drawn afresh for each
// run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Every family below bounds, for
// any two distinct texts chosen without knowledge of the keys, the chance
// that they share the bits that pick the home slot, whatever their bytes:
// crafted input cannot crowd the table's clusters.
__extension__ typedef unsigned __int128 Word128;

constexpr std::uint64_t Prime = (std::uint64_t{1} << 61) - 1;

struct HashKey {
    // r^1 to r^4 modulo Prime, for a point r drawn below it.
    std::uint64_t powers[4];
    Word128 multipliers[2];
    Word128 offset;
};

// Congruent to x modulo Prime, for any x below 2^125 - 2^122 (the sums
// below stay under 2^124 + 2^67); folded twice, below 2^61 + 8.
inline std::uint64_t foldOnce(Word128 x) {
    return (static_cast<std::uint64_t>(x) & Prime) + static_cast<std::uint64_t>(x >> 61);
}
inline std::uint64_t foldPrime(Word128 x) {
    std::uint64_t once = foldOnce(x);
    return (once & Prime) + (once >> 61);
}

// Keys from the kernel's random source, or from a seed for runs that must
// repeat (the tests).
HashKey drawKey();
HashKey keyFromSeed(std::uint64_t seed);

inline std::uint64_t load64(const char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// The high word of (a0 x0 + ... + b) mod 2^128, with a0, ... and b drawn
// from 2^128 and each x below 2^64: for x != y, a0 (x0 - y0) has its bits
// from the lowest set bit of x0 - y0 on uniform and independent of b's, so
// any l bits of the high word collide with chance 2^-l (with two words,
// take one that differs, whatever the other multiplier). The slot takes
// the low bits, the long slots' check the top 24.
inline std::uint64_t multiplyShift(const HashKey& key, const std::uint64_t* x, std::size_t words) {
    Word128 sum = key.offset;
    for (std::size_t i = 0; i < words; ++i) sum += key.multipliers[i] * x[i];
    return static_cast<std::uint64_t>(sum >> 64);
}

// The 7 bytes from `bytes` on, and the 7 before `end`.
inline std::uint64_t limb(const char* bytes) { return load64(bytes) & 0x00FFFFFFFFFFFFFFu; }
inline std::uint64_t limbBefore(const char* end) { return load64(end - 8) >> 8; }

// value r^4 + l0 r^3 + l1 r^2 + l2 r + l3, its multiplies independent.
inline Word128 hornerStep(const HashKey& key, std::uint64_t value, std::uint64_t l0, std::uint64_t l1,
                          std::uint64_t l2, std::uint64_t l3) {
    const std::uint64_t* r = key.powers;
    return Word128{value} * r[3] + Word128{l0} * r[2] + Word128{l1} * r[1] + Word128{l2} * r[0] + l3;
}

// The polynomial's value past 28 bytes, apart: the shorter texts, most of
// them, keep their hash inline and free of the loop's registers.
[[gnu::noinline]] inline std::uint64_t polynomialOfLongText(const HashKey& key, const char* bytes,
                                                            std::size_t length) {
    const char* end = bytes + length;
    std::uint64_t value = length;
    for (; end - bytes > 28; bytes += 28)
        value = foldPrime(
            hornerStep(key, value, limb(bytes), limb(bytes + 7), limb(bytes + 14), limb(bytes + 21)));
    return foldOnce(hornerStep(key, value, limbBefore(end - 21), limbBefore(end - 14), limbBefore(end - 7),
                               limbBefore(end)));
}

// For texts of 15 bytes or more: the polynomial with coefficients the
// length and then 7-byte limbs, at the point r, modulo Prime. The limbs
// are read four at a time from the front and the last four end the text
// (below 29 bytes, two from the front and two that end it): for a given
// length they cover every byte, so distinct texts give distinct polynomials
// (lengths differ in the leading coefficient or in the degree), whose
// difference has at most n roots for n limbs. Their values coincide with
// chance at most 9n / 2^64 (r is a 64-bit draw modulo Prime), and the
// multiply-shift of the value adds 2^-l for l slot bits.
inline std::uint64_t hashText(const HashKey& key, const char* bytes, std::size_t length) {
    const char* end = bytes + length;
    std::uint64_t value = length <= 28 ? foldOnce(hornerStep(key, length, limb(bytes), limb(bytes + 7),
                                                             limbBefore(end - 7), limbBefore(end)))
                                       : polynomialOfLongText(key, bytes, length);
    return multiplyShift(key, &value, 1);
}

// Packs a text of 1 to 8 bytes with two overlapping loads instead of a copy
// of variable length.
inline std::uint64_t packShortText(const char* bytes, std::size_t length) {
    auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(bytes[i])}; };
    if (length >= 4) {
        std::uint32_t low, high;
        std::memcpy(&low, bytes, 4);
        std::memcpy(&high, bytes + length - 4, 4);
        return low | std::uint64_t{high} << (8 * (length - 4));
    }
    return byte(0) | byte(length / 2) << (8 * (length / 2)) | byte(length - 1) << (8 * (length - 1));
}
