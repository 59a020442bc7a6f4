// 64 bytes of a count file looked at in one step: where its lines end, and
// which of them need no closer look, as bit masks (bit i for byte i).
//
// Most lines of a count file are entries as the writer writes them, text,
// ';', the count's digits, CR LF, and most counts are small; the others are
// mostly the lines of texts with an LF, which seldom hold a ';'. A reader
// that wants only counts of at least some number of digits passes over the
// lines these masks clear and looks at the rest one by one.
#pragma once

#include <cstddef>
#include <cstdint>

struct StepMasks {
    std::uint64_t lineFeeds = 0;
    // The LFs of lines that hold no ';' (no entries), or that end entries
    // whose count has fewer digits than asked for.
    std::uint64_t passOver = 0;
    // Those of passOver that end entries.
    std::uint64_t entries = 0;
};

// Where each class of bytes that matters lies in 64 bytes.
struct ByteClasses {
    std::uint64_t lineFeeds = 0, crs = 0, separators = 0, digits = 0;
};

// Whether the machine classifies 32 bytes at once (AVX2), else 16 (SSE2).
bool wideStepsWork();

// The steps of one block, in order, the first at a line's start: each
// step's masks carry on from the step before.
class LineMasks {
public:
    explicit LineMasks(bool wide = wideStepsWork()) : wide_(wide) {}

    // The masks of the `steps` steps of 64 bytes at `data`, passing over
    // entries whose count has fewer than `leastDigits` digits. Many steps a
    // call: the masks come out in one go.
    void next(const char* data, std::size_t steps, int leastDigits, StepMasks* masks);

    // What a step hands on to the next.
    struct Carry {
        ByteClasses bytes;
        std::uint64_t countEnds = 0;
        std::uint64_t gapCarry = 0, digitCarry = 0;
    };

private:
    bool wide_;
    Carry before_;
};
