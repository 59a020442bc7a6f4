// Number texts are read as the C library's atoi reads them (leading white
// space, one optional sign, decimal digits up to the first other byte, no
// digits giving 0), but into 64 bits and with overflow detected instead of
// left undefined.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

// What a text begins with: whether it holds a number at all, and its value,
// which is nothing when it does not fit in 64 bits.
struct LeadingInteger {
    bool hasDigits = false;
    std::optional<std::int64_t> value;
};

inline LeadingInteger scanLeadingInteger(std::string_view text) {
    std::size_t i = 0;
    auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    LeadingInteger scanned;
    scanned.hasDigits = i < text.size() && text[i] >= '0' && text[i] <= '9';
    // Accumulate the negative value: its range holds the most negative count.
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (__builtin_mul_overflow(value, 10, &value) || __builtin_sub_overflow(value, digit, &value))
            return scanned;
    }
    if (negative)
        scanned.value = value;
    else if (value != INT64_MIN)
        scanned.value = -value;
    return scanned;
}

// The value of the text (0 without digits), or nothing when it does not fit
// in 64 bits.
inline std::optional<std::int64_t> parseLeadingInteger(std::string_view text) {
    return scanLeadingInteger(text).value;
}

// A number typed where only a whole number makes sense (an offset, a range,
// a count): decimal digits and nothing else, so that "1e9", "-5" or "2x" is
// refused rather than read as 1, a count from the end or 2. Nothing when the
// text is not that or does not fit in 64 bits.
inline std::optional<std::int64_t> parseDigits(std::string_view text) {
    std::int64_t value = 0;
    if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}
