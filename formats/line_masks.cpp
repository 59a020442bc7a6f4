#include "formats/line_masks.h"

#include <algorithm>
#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace {

std::uint64_t back(std::uint64_t mask, std::uint64_t before, int bytes) {
    return mask << bytes | before >> (64 - bytes);
}

inline __attribute__((always_inline)) StepMasks stepMasks(const ByteClasses& now, const ByteClasses& before,
                                                          int leastDigits) {
    StepMasks step;
    step.lineFeeds = now.lineFeeds;
    std::uint64_t afterCr = now.lineFeeds & back(now.crs, before.crs, 1);
    // Lines of nothing or of one byte hold no ';' and a digit.
    std::uint64_t plain =
        now.lineFeeds & (back(now.lineFeeds, before.lineFeeds, 1) | back(now.lineFeeds, before.lineFeeds, 2));
    // Entries of k digits: CR at i - 1, digits from i - 2 back, ';' at
    // i - 2 - k.
    std::uint64_t run = afterCr;
    for (int k = 1; k < std::min(leastDigits, 8); ++k) {
        run &= back(now.digits, before.digits, k + 1);
        step.entries |= run & back(now.separators, before.separators, k + 2);
    }
    step.passOver = plain | step.entries;
    return step;
}

inline ByteClasses classify(const char* data) {
    ByteClasses bytes;
#ifdef __SSE2__
    for (int at = 0; at < 64; at += 16) {
        __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        __m128i fromZero = _mm_sub_epi8(sixteen, _mm_set1_epi8('0'));
        __m128i equal[4] = {_mm_cmpeq_epi8(sixteen, _mm_set1_epi8('\n')),
                            _mm_cmpeq_epi8(sixteen, _mm_set1_epi8('\r')),
                            _mm_cmpeq_epi8(sixteen, _mm_set1_epi8(';')),
                            _mm_cmpeq_epi8(_mm_min_epu8(fromZero, _mm_set1_epi8(9)), fromZero)};
        std::uint64_t* masks[4] = {&bytes.lineFeeds, &bytes.crs, &bytes.separators, &bytes.digits};
        for (int i = 0; i < 4; ++i)
            *masks[i] |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(equal[i]))) << at;
    }
#else
    for (int at = 0; at < 64; ++at) {
        std::uint64_t bit = std::uint64_t{1} << at;
        char byte = data[at];
        if (byte == '\n') bytes.lineFeeds |= bit;
        if (byte == '\r') bytes.crs |= bit;
        if (byte == ';') bytes.separators |= bit;
        if (byte >= '0' && byte <= '9') bytes.digits |= bit;
    }
#endif
    return bytes;
}

void narrowSteps(const char* data, std::size_t steps, int leastDigits, ByteClasses& before,
                 StepMasks* masks) {
    for (std::size_t i = 0; i < steps; ++i) {
        ByteClasses now = classify(data + 64 * i);
        masks[i] = stepMasks(now, before, leastDigits);
        before = now;
    }
}

#if defined(__x86_64__) || defined(__i386__)

// Built for AVX2, and called only where it works: half the vector steps
// of SSE2.
__attribute__((target("avx2"))) void wideSteps(const char* data, std::size_t steps, int leastDigits,
                                               ByteClasses& before, StepMasks* masks) {
    for (std::size_t i = 0; i < steps; ++i) {
        ByteClasses now;
        for (int at = 0; at < 64; at += 32) {
            __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + 64 * i + at));
            __m256i fromZero = _mm256_sub_epi8(bytes, _mm256_set1_epi8('0'));
            __m256i equal[4] = {_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\n')),
                                _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\r')),
                                _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(';')),
                                _mm256_cmpeq_epi8(_mm256_min_epu8(fromZero, _mm256_set1_epi8(9)), fromZero)};
            std::uint64_t* classes[4] = {&now.lineFeeds, &now.crs, &now.separators, &now.digits};
            for (int j = 0; j < 4; ++j)
                *classes[j] |=
                    static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(equal[j]))) << at;
        }
        masks[i] = stepMasks(now, before, leastDigits);
        before = now;
    }
}

#else

void wideSteps(const char* data, std::size_t steps, int leastDigits, ByteClasses& before, StepMasks* masks) {
    narrowSteps(data, steps, leastDigits, before, masks);
}

#endif

}  // namespace

bool wideStepsWork() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

void LineMasks::next(const char* data, std::size_t steps, int leastDigits, StepMasks* masks) {
    if (wide_)
        wideSteps(data, steps, leastDigits, before_, masks);
    else
        narrowSteps(data, steps, leastDigits, before_, masks);
}
