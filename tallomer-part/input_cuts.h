// Where an input's byte ranges may be cut: a plain file at the mode's
// multiple, a compressed file or a stream nowhere, as it is read once, front
// to back, and so counted whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "counting/count_request.h"
#include "input/stored_input.h"

// A part's byte range: [from, to), to the input's end when `to` is none.
struct PartRange {
    std::int64_t from = 0;
    std::optional<std::int64_t> to;
};

// FROM and TO as the command line gives them: decimal digits only (so that
// "1e9" or "-5" is refused, not read as 1 or as a count from the end), TO
// also `end`. None when they are not.
std::optional<PartRange> parsePartRange(const std::string& from, const std::string& to);

// Whether an opened input is counted whole: compressed, a stream, or
// standard input (which has no name to check a file by, even when it is
// redirected from one).
bool countedWhole(const StoredInput& input);

// The multiple that FROM and TO must be for `path`, or none when it is
// counted whole. A stream is not opened (a FIFO would wait for a writer); a
// regular file's first bytes tell whether it is compressed, and a name that
// promises another format is refused. Failures are IoErrors naming the path.
std::optional<std::int64_t> rangeMultipleOf(const std::string& path, Mode mode);
