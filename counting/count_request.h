// What a count is asked for, and the constants that the chunk loop, the
// scanners and the programs share: the modes, the bounds of N, the chunk
// size, the bytes read past a chunk and where progress dots fall.
#pragma once

#include <cstdint>
#include <limits>

#include "counting/word_scanner.h"

enum class Mode { Characters, Words };

// Character windows are sorted as keys of at most three 8-byte words.
inline constexpr int MaxCharacterN = 19;
// The word scan keeps N x WordMargin bytes free at a chunk's end, and chunk
// positions are 32-bit: a larger N would push that margin past them.
inline constexpr std::int64_t MaxWordN = std::numeric_limits<std::int32_t>::max() / WordMargin;

// The most bytes of the input held in memory at once.
inline constexpr std::int64_t ChunkSize = 100'000'000;
// Both scans print a progress dot near every multiple of this position.
inline constexpr std::int64_t ProgressInterval = 10'000'000;

// The bytes of the input read after a chunk: character windows that start
// near its end take their last bytes from the next chunk, while word mode
// scans each chunk on its own.
inline std::int64_t chunkLookahead(Mode mode, std::int32_t n) { return mode == Mode::Characters ? n - 1 : 0; }

// What the ends of a part's byte range must be multiples of (or the input's
// size): any byte in character mode, chunk starts in word mode.
inline std::int64_t rangeMultiple(Mode mode) { return mode == Mode::Words ? ChunkSize : 1; }
