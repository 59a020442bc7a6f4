// tallomer-merge's command line: the options, the key range to write and
// the part paths.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The k-th of `ranges` key ranges, 1 <= k <= ranges.
struct KeyRangeChoice {
    std::int64_t k = 1, ranges = 1;
};

// The options, which come before the key range: --min-count=C, the least
// summed count a text must have to be written (nothing: all are).
struct MergeOptions {
    std::optional<std::int64_t> minCount;
};

// The options at the start of `arguments` (those that begin with "--") and
// how many they are; on an unknown option or a count that is not 1 to
// 2^63 - 1 in decimal digits, the message says what is allowed.
struct ParsedOptions {
    MergeOptions options;
    std::size_t used = 0;
    std::string error;
};
ParsedOptions parseOptions(const std::vector<std::string>& arguments);

// "k/K" in decimal digits; on anything else the message says what is
// allowed.
struct ParsedRange {
    std::optional<KeyRangeChoice> range;
    std::string error;
};
ParsedRange parseRange(const std::string& text);

// The part paths, each "@FILE" replaced by the paths FILE lists, one a line
// (a CR before the LF dropped, as the workflows take their input lists;
// empty lines skipped). Throws IoError naming a list that cannot be read.
std::vector<std::string> expandPartLists(const std::vector<std::string>& arguments);

// The first part that is the output file itself (the same device and inode,
// so links and other spellings count), which a merge would replace: hours
// of a part task. Nothing when the output does not exist yet.
std::optional<std::string> partThatIsTheOutput(const std::string& outputPath,
                                               const std::vector<std::string>& partPaths);
