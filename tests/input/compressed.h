// Bytes compressed in the tests by the compression libraries themselves,
// one member, frame or stream per call, each with its checksum.
#pragma once

#include <string>
#include <string_view>

#include "input/compression.h"

std::string compressed(Compression compression, std::string_view data);

// A zstd skippable frame holding `content`.
std::string zstdSkippableFrame(std::string_view content);
