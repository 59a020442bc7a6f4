#include "tallomer-merge/coverage.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "common/shown_path.h"

namespace {

std::string countsWhat(const PartHeader& header) {
    return std::string(header.mode == 'w' ? "word " : "character ") + std::to_string(header.n) + "-grams";
}

std::string bytes(std::int64_t from, std::int64_t to) {
    return "bytes " + std::to_string(from) + "-" + std::to_string(to);
}

auto inputFields(const PartHeader& h) {
    return std::tie(h.inputName, h.input.size, h.input.modifiedNanoseconds, h.input.contentSample);
}

auto headerFields(const PartHeader& h) {
    return std::tuple_cat(inputFields(h), std::tie(h.mode, h.n, h.from, h.to));
}

// One input is one name and one identity: equal bytes under two names are
// two inputs, summed.
bool sameInput(const PartHeader& a, const PartHeader& b) { return inputFields(a) == inputFields(b); }

// By input, then by range, then by path, so that the part named first in a
// message does not depend on the order of the arguments.
std::vector<const PartSummary*> inOrder(const std::vector<PartSummary>& parts) {
    std::vector<const PartSummary*> sorted;
    for (const PartSummary& part : parts) sorted.push_back(&part);
    std::sort(sorted.begin(), sorted.end(), [](const PartSummary* a, const PartSummary* b) {
        return std::tuple_cat(inputFields(a->header), std::tie(a->header.from, a->header.to, a->path)) <
               std::tuple_cat(inputFields(b->header), std::tie(b->header.from, b->header.to, b->path));
    });
    return sorted;
}

// What tells two versions of one input apart, for the message.
std::string howTheyDiffer(const InputIdentity& a, const InputIdentity& b) {
    if (a.size != b.size) return std::to_string(a.size) + " and " + std::to_string(b.size) + " bytes";
    if (a.modifiedNanoseconds != b.modifiedNanoseconds) return "modified at different times";
    return "different bytes";
}

// Told against the first part given, the one a user thinks of as setting
// the mode and N.
std::optional<IoError> differentCounts(const std::vector<PartSummary>& parts) {
    const PartSummary& first = parts.front();
    for (const PartSummary& part : parts)
        if (part.header.mode != first.header.mode || part.header.n != first.header.n)
            return IoError(part.path, "counts " + countsWhat(part.header) + ", but " + shownPath(first.path) +
                                          " counts " + countsWhat(first.header));
    return std::nullopt;
}

std::optional<IoError> givenTwice(const std::vector<const PartSummary*>& parts) {
    std::map<std::string, const PartSummary*> byPath;
    for (const PartSummary* part : parts)
        if (!byPath.emplace(part->path, part).second) return IoError(part->path, "given twice");
    for (std::size_t i = 1; i < parts.size(); ++i)
        if (headerFields(parts[i]->header) == headerFields(parts[i - 1]->header))
            return IoError(parts[i]->path, "the same part as " + shownPath(parts[i - 1]->path));
    return std::nullopt;
}

std::optional<IoError> differentVersions(const std::vector<const PartSummary*>& parts) {
    std::map<std::string, const PartSummary*> byName;
    for (const PartSummary* part : parts) {
        auto [seen, added] = byName.emplace(part->header.inputName, part);
        const PartHeader& other = seen->second->header;
        if (!added && other.input != part->header.input)
            return IoError(part->path, "parts of different versions of " + shownPath(part->header.inputName) +
                                           ": this one and " + shownPath(seen->second->path) + " (" +
                                           howTheyDiffer(part->header.input, other.input) + ")");
    }
    return std::nullopt;
}

// Parts sorted by input, then by range: each input's ranges must follow on
// from 0 to its size.
std::optional<IoError> gapOrOverlap(const std::vector<const PartSummary*>& parts) {
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const PartHeader& header = parts[i]->header;
        bool firstOfInput = i == 0 || !sameInput(parts[i - 1]->header, header);
        std::int64_t expected = firstOfInput ? 0 : parts[i - 1]->header.to;
        std::string of = " of " + shownPath(header.inputName);
        if (header.from > expected)
            return IoError(parts[i]->path,
                           bytes(expected, header.from) + of + " are in no part (" +
                               (firstOfInput ? "none before this one"
                                             : "between " + shownPath(parts[i - 1]->path) + " and this one") +
                               ")");
        if (header.from < expected)
            return IoError(parts[i]->path, bytes(header.from, std::min(expected, header.to)) + of +
                                               " are also in " + shownPath(parts[i - 1]->path));
        std::int64_t size = header.input.size;
        if (header.to > size)
            return IoError(parts[i]->path, bytes(header.from, header.to) + " reach past the end" + of + " (" +
                                               std::to_string(size) + " bytes)");
        bool lastOfInput = i + 1 == parts.size() || !sameInput(parts[i + 1]->header, header);
        if (lastOfInput && header.to < size)
            return IoError(parts[i]->path,
                           bytes(header.to, size) + of + " are in no part (none after this one)");
    }
    return std::nullopt;
}

}  // namespace

std::optional<IoError> coverageProblem(const std::vector<PartSummary>& parts) {
    if (parts.empty()) return std::nullopt;
    if (std::optional<IoError> problem = differentCounts(parts)) return problem;
    std::vector<const PartSummary*> sorted = inOrder(parts);
    for (auto check : {givenTwice, differentVersions, gapOrOverlap})
        if (std::optional<IoError> problem = check(sorted)) return problem;
    return std::nullopt;
}
