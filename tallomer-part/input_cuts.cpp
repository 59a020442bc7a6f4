#include "tallomer-part/input_cuts.h"

#include <sys/stat.h>

#include "common/io_error.h"
#include "common/number_text.h"

std::optional<PartRange> parsePartRange(const std::string& from, const std::string& to) {
    std::optional<std::int64_t> start = parseDigits(from);
    if (!start) return std::nullopt;
    if (to == "end") return PartRange{*start, std::nullopt};
    std::optional<std::int64_t> end = parseDigits(to);
    if (!end) return std::nullopt;
    return PartRange{*start, *end};
}

bool countedWhole(const StoredInput& input) {
    return input.compression() != Compression::None || input.isStream() || input.path() == "-";
}

std::optional<std::int64_t> rangeMultipleOf(const std::string& path, Mode mode) {
    if (path == "-") return std::nullopt;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) throw IoError(path, systemReason());
    if (S_ISDIR(status.st_mode)) throw IoError(path, "is a directory");
    if (!S_ISREG(status.st_mode)) return std::nullopt;
    // Only its first bytes are read: no decoder's window is taken.
    StoredInput input(path);
    if (countedWhole(input)) return std::nullopt;
    return rangeMultiple(mode);
}
