// Where an input's byte ranges may be cut: a plain file at the mode's
// multiple, a compressed file or a stream nowhere, as it is read once, front
// to back, and so counted whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "counting/count_request.h"
#include "input/stored_input.h"

// Whether an opened input is counted whole: compressed, a stream, or
// standard input (which has no name to check a file by, even when it is
// redirected from one).
bool countedWhole(const StoredInput& input);

// The multiple that FROM and TO must be for `path`, or none when it is
// counted whole. A stream is not opened (a FIFO would wait for a writer); a
// regular file's first bytes tell whether it is compressed, and a name that
// promises another format is refused. Failures are IoErrors naming the path.
std::optional<std::int64_t> rangeMultipleOf(const std::string& path, Mode mode);
