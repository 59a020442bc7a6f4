// The LFs of a block of bytes found 64 at a step, for data of lines much
// shorter than what a memchr call a line is quick for (a count file's lines
// are about 12 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Calls atLineFeed(i) for the offset i of every LF of `bytes`, in order,
// until it returns false. Returns whether it went to the end.
template <typename AtLineFeed>
bool forEachLineFeed(std::string_view bytes, AtLineFeed atLineFeed) {
    const char* data = bytes.data();
    std::size_t i = 0;
#ifdef __SSE2__
    // 64 bytes a step: a step holds several lines, so the loop over them
    // ends with fewer mispredicted branches.
    const __m128i lineFeeds = _mm_set1_epi8('\n');
    auto mask16 = [&](std::size_t at) {
        __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        return static_cast<std::uint64_t>(
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(sixteen, lineFeeds))));
    };
    for (; i + 64 <= bytes.size(); i += 64) {
        std::uint64_t found = mask16(i) | mask16(i + 16) << 16 | mask16(i + 32) << 32 | mask16(i + 48) << 48;
        for (; found != 0; found &= found - 1)
            if (!atLineFeed(i + static_cast<std::size_t>(__builtin_ctzll(found)))) return false;
    }
#endif
    for (; i < bytes.size(); ++i)
        if (data[i] == '\n' && !atLineFeed(i)) return false;
    return true;
}
