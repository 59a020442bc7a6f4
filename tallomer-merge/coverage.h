// Whether a set of parts makes one count file: the same mode and N, and
// for every input (told apart by name and identity) parts that cover
// its bytes exactly once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "formats/part_file.h"

struct PartSummary {
    std::string path;
    PartHeader header;
};

// The first problem found, naming the part(s), or nothing. The same parts
// in any order give the same answer.
std::optional<IoError> coverageProblem(const std::vector<PartSummary>& parts);
