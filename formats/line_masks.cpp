#include "formats/line_masks.h"

#include <algorithm>
#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace {

std::uint64_t back(std::uint64_t mask, std::uint64_t before, int bytes) {
    return mask << bytes | before >> (64 - bytes);
}

// a + b + carry, and the carry out of bit 63 into `carry`.
std::uint64_t addCarrying(std::uint64_t a, std::uint64_t b, std::uint64_t& carry) {
    std::uint64_t sum;
    bool out = __builtin_add_overflow(a, b, &sum);
    out |= __builtin_add_overflow(sum, carry, &sum);
    carry = out;
    return sum;
}

inline __attribute__((always_inline)) StepMasks stepMasks(const ByteClasses& now, LineMasks::Carry& before,
                                                          int leastDigits) {
    StepMasks step;
    step.lineFeeds = now.lineFeeds;
    // Added to a mask, a bit after each ';' runs up through the ones above
    // it and stops at the first zero: in the gaps between ';' and LF, it
    // stops at the next ';' or LF, so an LF it reaches ends a line that
    // holds a ';'; in the digits, it stops at the first byte after those
    // that follow the ';'.
    std::uint64_t afterSeparator = back(now.separators, before.bytes.separators, 1);
    std::uint64_t gaps = ~(now.separators | now.lineFeeds);
    std::uint64_t reached = addCarrying(gaps, afterSeparator, before.gapCarry) & ~gaps;
    std::uint64_t noSeparator = now.lineFeeds & ~reached;
    // Entries as the writer writes them, a ';', one digit or more, CR and
    // LF; whose count has fewer digits than asked for when the byte that
    // many before the CR is no digit.
    std::uint64_t afterDigits = addCarrying(now.digits, afterSeparator, before.digitCarry) & ~now.digits;
    std::uint64_t countEnds = afterDigits & ~afterSeparator & now.crs;
    std::uint64_t entries = now.lineFeeds & back(countEnds, before.countEnds, 1);
    if (leastDigits > 1)
        step.entries = entries & ~back(now.digits, before.bytes.digits, std::min(leastDigits, 62) + 1);
    step.passOver = noSeparator | step.entries;
    before.bytes = now;
    before.countEnds = countEnds;
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

void narrowSteps(const char* data, std::size_t steps, int leastDigits, LineMasks::Carry& before,
                 StepMasks* masks) {
    for (std::size_t i = 0; i < steps; ++i)
        masks[i] = stepMasks(classify(data + 64 * i), before, leastDigits);
}

#if defined(__x86_64__) || defined(__i386__)

// Built for AVX2, and called only where it works: half the vector steps
// of SSE2.
__attribute__((target("avx2"))) void wideSteps(const char* data, std::size_t steps, int leastDigits,
                                               LineMasks::Carry& before, StepMasks* masks) {
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
    }
}

#else

void wideSteps(const char* data, std::size_t steps, int leastDigits, LineMasks::Carry& before,
               StepMasks* masks) {
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
