#include "tallomer-merge/merge_arguments.h"

#include <sys/stat.h>

#include <algorithm>
#include <string_view>

#include "common/file_io.h"
#include "common/number_text.h"

ParsedOptions parseOptions(const std::vector<std::string>& arguments) {
    constexpr std::string_view MinCount = "--min-count=";
    ParsedOptions parsed;
    for (; parsed.used < arguments.size() && arguments[parsed.used].starts_with("--"); ++parsed.used) {
        const std::string& option = arguments[parsed.used];
        if (!option.starts_with(MinCount)) {
            parsed.error = "unknown option \"" + option + "\": the one option is --min-count=C";
            return parsed;
        }
        std::string_view text = std::string_view(option).substr(MinCount.size());
        parsed.options.minCount = parseDigits(text);
        if (!parsed.options.minCount || *parsed.options.minCount < 1) {
            parsed.error = "--min-count \"" + std::string(text) +
                           "\" must be a whole number from 1 to 9223372036854775807";
            return parsed;
        }
    }
    return parsed;
}

ParsedRange parseRange(const std::string& text) {
    std::size_t slash = text.find('/');
    std::optional<std::int64_t> k, ranges;
    if (slash != std::string::npos) {
        k = parseDigits(std::string_view(text).substr(0, slash));
        ranges = parseDigits(std::string_view(text).substr(slash + 1));
    }
    if (!k || !ranges || *k < 1 || *k > *ranges)
        return {std::nullopt, "range \"" + text + "\" must be k/K, the k-th of K key ranges, 1 <= k <= K"};
    return {KeyRangeChoice{*k, *ranges}, {}};
}

std::vector<std::string> expandPartLists(const std::vector<std::string>& arguments) {
    std::vector<std::string> paths;
    for (const std::string& argument : arguments) {
        if (argument.empty() || argument[0] != '@') {
            paths.push_back(argument);
            continue;
        }
        std::string listPath = argument.substr(1);
        InputFile list(listPath);
        std::string bytes(static_cast<std::size_t>(list.size()), '\0');
        list.readAt(0, bytes.data(), list.size());
        list.close();
        for (std::size_t start = 0; start < bytes.size();) {
            std::size_t end = std::min(bytes.find('\n', start), bytes.size());
            std::string_view line = std::string_view(bytes).substr(start, end - start);
            if (line.ends_with('\r')) line.remove_suffix(1);
            if (!line.empty()) paths.emplace_back(line);
            start = end + 1;
        }
    }
    return paths;
}

std::optional<std::string> partThatIsTheOutput(const std::string& outputPath,
                                               const std::vector<std::string>& partPaths) {
    struct stat output, part;
    if (::stat(outputPath.c_str(), &output) != 0) return std::nullopt;
    for (const std::string& path : partPaths)
        if (::stat(path.c_str(), &part) == 0 && part.st_dev == output.st_dev && part.st_ino == output.st_ino)
            return path;
    return std::nullopt;
}
