// The one rule for how wide a merge may be and what each source reads
// through, for every merge of runs and parts (runs/group_merge.h, the run
// store, runs/threaded_merge.h): the descriptors left under RLIMIT_NOFILE,
// and the share of memory each open source gets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/record_batch.h"
#include "formats/count_lines.h"

// Descriptors kept free for the output, its folder, the console, a list
// file and the C++ runtime.
inline constexpr std::size_t DescriptorMargin = 16;
// The most descriptors counted on, whatever the limit: more sources than
// this in one merge gain nothing but cache misses in its tree.
inline constexpr std::size_t MostOpenFiles = 1 << 16;
// A source's buffer: a smaller one costs a read call per few records, a
// larger one gains nothing.
inline constexpr std::size_t SmallestReadBuffer = 4 << 10, LargestReadBuffer = 1 << 20;
// The fewest sources a merge of many is given, whatever the limits: it
// merges them in groups of half of them, so that the runs of the groups
// before still fit beside a group (a limit that leaves fewer descriptors
// than this fails at open, as any program would).
inline constexpr std::size_t LeastMergeWidth = 6;
// What an open source holds beside its buffer: a part's index page and
// current text, the reader itself, its batch in the merge.
inline constexpr std::size_t SourceBytes = (16 << 10) + RecordBatch::Bytes;
// What a merge holds besides its sources' buffers: the block it formats
// and the block of a piece written ahead of its turn.
inline constexpr std::int64_t MergeOwnBytes = 2 * CountLines::BlockBytes;

// What RLIMIT_NOFILE (at most MostOpenFiles) leaves beside the
// descriptors open now and the margin; at least 2.
std::size_t openFilesLeft();

// Each of `readers` buffers' share of `bytes`, within the smallest and
// largest buffer.
std::size_t readBufferShare(std::int64_t bytes, std::size_t readers);

// How one merge reads its sources.
struct MergeLimits {
    // Sources read at once; the run a group merge writes comes beside them.
    std::size_t width = LeastMergeWidth;
    std::size_t bufferBytes = LargestReadBuffer;
    // Where group merges put their runs.
    std::string temporaryFolder;
};

// The limits of each of `merges` merges at once that share `memory` and
// the descriptors left after `otherFiles`: as wide as `sources` (and the
// run written) fit the descriptors and their smallest buffers the memory,
// at least LeastMergeWidth, but never past `mostWidth`; each buffer the
// share of the memory of one source of a merge that wide and its run.
// `sourcesOpen`: the sources' files are open already (a reader shares its
// file's descriptor), so that only the runs of the groups, at most half
// the width, and the run written take descriptors.
MergeLimits mergeLimitsFor(std::size_t sources, std::int64_t memory, std::string temporaryFolder,
                           std::size_t merges = 1, std::size_t otherFiles = 0,
                           std::size_t mostWidth = MostOpenFiles, bool sourcesOpen = false);
