// The bytes of consecutive key ranges, made by several threads at once and
// written to one file in range order.
//
// Each thread takes the lowest range no thread has taken yet. The lowest
// range not yet written has the turn: its bytes go straight to the file.
// The others keep theirs in memory, up to `aheadBytes` each; a range that
// holds that much, or ends, waits for its turn. So at most `threads` ranges
// are under way, the threads hold at most threads x aheadBytes beside their
// writers' buffers, and the range with the turn never waits.
#pragma once

#include <cstddef>
#include <functional>

#include "common/output_file.h"

// Calls produce(range, out) for each range below `ranges`, on up to
// `threads` threads, and writes what each writes to `out` into `file` in
// range order. The first failure of any range is thrown once all threads
// have stopped (the others stop at their next buffer or wait).
void writeRangesInOrder(OutputFile& file, std::size_t ranges, std::size_t threads, std::size_t aheadBytes,
                        const std::function<void(std::size_t range, OutputFile& out)>& produce);
