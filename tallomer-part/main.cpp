// tallomer-part: counts the n-grams that start in one byte range of a file,
// exactly as tallomer counts them in a whole run, and writes them as a part
// file, for tallomer-merge to sum with the other parts on any machine.
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "common/console.h"
#include "common/cpu_count.h"
#include "common/file_io.h"
#include "common/memory_budget.h"
#include "common/number_text.h"
#include "common/replacement_file.h"
#include "common/report.h"
#include "common/signal_cleanup.h"
#include "common/temporary_file.h"
#include "counting/arguments.h"
#include "counting/chunked_input.h"
#include "counting/count_request.h"
#include "counting/ngram_count_table.h"
#include "formats/part_file.h"

namespace {
constexpr const char* Program = "tallomer-part";

struct Range {
    std::int64_t from = 0;
    std::optional<std::int64_t> to;  // none: to the input's end
};

// A byte offset: decimal digits only, so that "1e9" or "-5" is refused, not
// read as 1 or as a count from the end.
std::optional<std::int64_t> parseOffset(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return parseLeadingInteger(text);
}

std::optional<Range> parseRange(const std::string& from, const std::string& to) {
    std::optional<std::int64_t> start = parseOffset(from);
    if (!start) return std::nullopt;
    if (to == "end") return Range{*start, std::nullopt};
    std::optional<std::int64_t> end = parseOffset(to);
    if (!end) return std::nullopt;
    return Range{*start, *end};
}

// The input's path made absolute and normal ("./a" and "a" alike), so that
// every part of one input names it the same. Links are not resolved: a
// workflow gives every node the same path, whatever it leads to there.
std::string absoluteName(const std::string& path) {
    return std::filesystem::absolute(path).lexically_normal().string();
}

void countRangeAndWrite(const Arguments& arguments, const Range& range, std::int64_t budget,
                        const MemoryCheck& checkMemory) {
    ReplacementFile::checkCanBeMade(arguments.output);
    NGramCountTable table({budget, temporaryFolderOrTmpdir(arguments.output), 64, usableCpus()});
    // Taken before and after counting: a file edited, replaced or grown
    // meanwhile would give a part of no one version.
    InputIdentity before = inputIdentity(arguments.input);
    // The chunk messages and dots are tallomer's console; a part task's log
    // gets one line at the end.
    std::ostringstream discarded;
    discarded.setstate(std::ios::badbit);
    std::int64_t size =
        countInputRange(table, arguments, range.from, range.to, ChunkSize, discarded, checkMemory);
    PartHeader header;
    header.mode = arguments.mode == Mode::Characters ? 'c' : 'w';
    header.n = arguments.n;
    header.input = inputIdentity(arguments.input);
    if (header.input != before || size != before.size)
        throw IoError(arguments.input, "changed while being counted");
    header.from = range.from;
    header.to = range.to.value_or(size);
    header.inputName = absoluteName(arguments.input);
    // The chunk buffer is gone: the part's writer holds what the budget
    // keeps aside now.
    table.reserveMemory(PartWriter::MemoryBytes);
    PartWriter part(arguments.output, header);
    table.visitCountsInOrder([&](std::string_view text, std::int64_t count) { part.add(text, count); });
    part.commit();
    std::cout << arguments.output << ": " << part.entries() << " distinct n-grams, " << part.totalCount()
              << " in all, bytes " << header.from << "-" << header.to << " of " << arguments.input
              << std::endl;
}

// `tallomer-part MODE N` checks MODE and N as a count would and prints the
// byte multiple that FROM and TO must be (besides the input's size), so that
// a workflow plans its parts from the program's own rules.
int checkModeAndN(const char* mode, const char* n) {
    ParsedArguments parsed = parseArguments(mode, n, "", "");
    if (!parsed.arguments) {
        reportArgumentError(Program, parsed.error);
        return 1;
    }
    std::cout << rangeMultiple(parsed.arguments->mode) << std::endl;
    return checkStandardOutput(Program);
}
}  // namespace

int main(int argc, char** argv) {
    cleanUpTemporaryFilesOnSignals();
    if (argc == 3) return checkModeAndN(argv[1], argv[2]);
    if (argc != 7) {
        printUsageBlock(
            "tallomer-part [w/c word or character] [N] [input file] [from byte] [to byte or end] "
            "[part file]");
        return 1;
    }
    ParsedArguments parsed = parseArguments(argv[1], argv[2], argv[3], argv[6]);
    if (!parsed.arguments) {
        reportArgumentError(Program, parsed.error);
        return 1;
    }
    std::optional<Range> range = parseRange(argv[4], argv[5]);
    if (!range) {
        reportArgumentError(Program, "the range \"" + std::string(argv[4]) + "\" \"" + argv[5] +
                                         "\" must be two byte offsets (decimal), or an offset and end");
        return 1;
    }
    const Arguments& arguments = *parsed.arguments;
    MemoryLimits limits = currentMemoryLimits();
    shareAllocatorArenas(limits);
    std::int64_t budget = budgetWithin(limits);
    MemoryCheck checkMemory = memoryCheckWithin(limits, budget, arguments.input);
    if (int failed =
            runReportingFailures(Program, arguments.input,
                                 "out of memory while counting: less memory is left than there was at start",
                                 [&] { countRangeAndWrite(arguments, *range, budget, checkMemory); }))
        return failed;
    return checkStandardOutput(Program);
}
