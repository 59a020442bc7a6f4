// Bytes compressed in the tests by the compression libraries themselves,
// one member, frame or stream per call, each with its checksum.
#pragma once

#include <string>
#include <string_view>

#include "input/compression.h"

std::string compressed(Compression compression, std::string_view data);

// A zstd skippable frame holding `content`.
std::string zstdSkippableFrame(std::string_view content);

// A zstd frame that holds `data` (at most 128 KiB) in one stored block but
// announces a window of 2^windowLog bytes, as `zstd --long` writes for a
// large input: a decoder must have that window before it reads a byte.
std::string zstdFrameWithWindow(int windowLog, std::string_view data);
