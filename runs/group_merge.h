// The merge of many sorted count sources into one count file, within the
// open-file limit and the memory budget: sources that cannot all be open at
// once are merged in groups into temporary runs first.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/output_file.h"
#include "formats/count_lines.h"
#include "runs/run_format.h"

// Opens a source, reading through a buffer of the given size, when its
// turn comes.
using SourceOpener = std::function<std::unique_ptr<CountSource>(std::size_t bufferBytes)>;

struct MergeLimits {
    // Sources and temporary runs open at once; at least 6, so that a group
    // of runs merged again is more than one.
    std::size_t openAtOnce = 6;
    std::size_t bufferBytes = 1 << 20;
    std::string temporaryFolder;
};

// Descriptors left under RLIMIT_NOFILE, and the memory budget, shared out
// among `sources` readers: those of one of `merges` merges at once, after
// `otherFiles` descriptors.
MergeLimits mergeLimitsFor(std::size_t sources, std::int64_t memoryBudget, const std::string& temporaryFolder,
                           std::size_t merges = 1, std::size_t otherFiles = 0);

// What a merge holds besides its sources' buffers.
inline constexpr std::int64_t MergeOwnBytes = 2 * CountLines::BlockBytes;
// What an open source holds beside its buffer: a part's index page and
// current text, the reader itself, its batch in the merge.
inline constexpr std::size_t SourceBytes = (16 << 10) + RecordBatch::Bytes;

struct MergeTotals {
    std::int64_t distinct = 0;
    // Within 64 bits: each count is, and their sum is at most the bytes of
    // all inputs.
    std::uint64_t total = 0;
    // The most bytes the temporary runs of group merges took at once.
    std::int64_t temporaryBytesPeak = 0;
};

// Writes the texts of all sources, each once with its summed count, as
// count-file entries. A sum past 64 bits is an IoError naming outputPath.
MergeTotals writeMergedCounts(const std::vector<SourceOpener>& sources, const MergeLimits& limits,
                              OutputFile& output, const std::string& outputPath);
// The same into blocks handed to `sink`.
MergeTotals writeMergedCounts(const std::vector<SourceOpener>& sources, const MergeLimits& limits,
                              BlockSink& sink, const std::string& outputPath);
