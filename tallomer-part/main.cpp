// tallomer-part: counts the n-grams that start in one byte range of a file,
// exactly as tallomer counts them in a whole run, and writes them as a part
// file, for tallomer-merge to sum with the other parts on any machine.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "common/console.h"
#include "common/cpu_count.h"
#include "common/file_io.h"
#include "common/memory_budget.h"
#include "common/number_text.h"
#include "common/progress_line.h"
#include "common/replacement_file.h"
#include "common/report.h"
#include "common/signal_cleanup.h"
#include "common/temporary_file.h"
#include "counting/arguments.h"
#include "counting/chunked_input.h"
#include "counting/count_request.h"
#include "counting/ngram_count_table.h"
#include "formats/part_file.h"
#include "input/stored_input.h"
#include "tallomer-part/input_cuts.h"
#include "tallomer-part/input_list.h"

namespace {
constexpr const char* Program = "tallomer-part";

// The input's path made absolute and normal ("./a" and "a" alike), so that
// every part of one input names it the same. Links are not resolved: a
// workflow gives every node the same path, whatever it leads to there.
std::string absoluteName(const std::string& path) {
    return std::filesystem::absolute(path).lexically_normal().string();
}

// A part task's log gets one line at the end, not tallomer's console: the
// bytes counted go to the progress line alone.
class ProgressConsole final : public CountingConsole {
public:
    explicit ProgressConsole(ProgressLine& progress) : progress_(progress) {}
    void counted(std::int64_t bytes) const override { progress_.add(bytes); }

private:
    ProgressLine& progress_;
};

// What a part counted, for its header.
struct Counted {
    InputIdentity input;
    std::string inputName;
    std::int64_t from = 0, to = 0;
};

// A plain file: any range, read at its offsets.
Counted countFileRange(NGramCountTable& table, const Arguments& arguments, const PartRange& range,
                       const MemoryCheck& checkMemory, ProgressLine& progress) {
    // Taken before and after counting: a file edited, replaced or grown
    // meanwhile would give a part of no one version.
    InputIdentity before = inputIdentity(arguments.input);
    progress.startPhase("counting", std::max<std::int64_t>(range.to.value_or(before.size) - range.from, 0));
    std::int64_t size = countInputRange(table, arguments, range.from, range.to, ChunkSize,
                                        ProgressConsole(progress), checkMemory);
    Counted counted{inputIdentity(arguments.input), absoluteName(arguments.input), range.from,
                    range.to.value_or(size)};
    if (counted.input != before || size != before.size)
        throw IoError(arguments.input, "changed while being counted");
    return counted;
}

// A stream has no name that tells it from another: its part is named for
// the machine, the process and the moment that read it, so that a merge
// takes two streams for two inputs. Its size is what it held.
Counted streamCounted(const std::string& path, std::int64_t size) {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    std::int64_t nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    char host[256] = "";
    ::gethostname(host, sizeof host - 1);
    std::string name = (path == "-" ? std::string("standard input") : absoluteName(path)) +
                       " (a stream read on " + host + " by process " + std::to_string(::getpid()) + ", at " +
                       std::to_string(nanoseconds) + " ns since 1970)";
    return {{size, nanoseconds, 0}, name, 0, size};
}

// A compressed file or a stream: read once, front to back, so counted
// whole. A compressed file keeps its own identity, with the size of its
// data, which its part covers.
Counted countWhole(NGramCountTable& table, const Arguments& arguments, const PartRange& range,
                   StoredInput& input, std::int64_t decoderMemory, const MemoryCheck& checkMemory,
                   ProgressLine& progress) {
    // Standard input is a stream even when it comes from a file: it has no
    // name to check the file by.
    bool stream = input.isStream() || arguments.input == "-";
    if (range.from != 0 || range.to)
        throw IoError(input.name(), std::string(stream ? "a stream" : "a compressed file") +
                                        " is counted whole: FROM must be 0 and TO end");
    std::optional<InputIdentity> before;
    if (!stream) before = inputIdentity(arguments.input);
    // The size of the data is known only at its end.
    progress.startPhase("counting", std::nullopt);
    std::int64_t size = countStream(table, arguments, input, ChunkSize, ProgressConsole(progress),
                                    StoredBytes::BufferSize + decoderMemory, checkMemory);
    if (!before) return streamCounted(arguments.input, size);
    if (inputIdentity(arguments.input) != *before)
        throw IoError(arguments.input, "changed while being counted");
    InputIdentity identity = *before;
    identity.size = size;
    return {identity, absoluteName(arguments.input), 0, size};
}

// What a count may use, taken once at start: the memory limits, the budget
// within them and the CPUs.
struct Resources {
    MemoryLimits limits;
    std::int64_t budget;
    int cpus;
};

Resources takeResources() {
    Resources resources{currentMemoryLimits(), 0, usableCpus()};
    shareAllocatorArenas(resources.limits);
    resources.budget = budgetWithin(resources.limits);
    return resources;
}

void countRangeAndWrite(const Arguments& arguments, const PartRange& range, const Resources& resources,
                        const MemoryCheck& checkMemory) {
    ReplacementFile::checkCanBeMade(arguments.output);
    std::int64_t budget = resources.budget;
    NGramCountTable table({budget, temporaryFolderOrTmpdir(arguments.output), 64, resources.cpus});
    // On standard error when it is a terminal; erased before any failure
    // is reported.
    ProgressLine progress(Program);
    Counted counted;
    {
        // Its first bytes tell whether it is compressed; a name that says
        // otherwise is refused.
        // The decoder's window comes out of the budget: an eighth of it, at
        // least enough for the formats' usual windows.
        std::int64_t decoderMemory =
            std::clamp(budget / 8, std::int64_t{16} << 20, StoredInput::DefaultDecoderMemory);
        StoredInput input(arguments.input, decoderMemory);
        if (countedWhole(input))
            counted = countWhole(table, arguments, range, input, decoderMemory, checkMemory, progress);
        else
            counted = countFileRange(table, arguments, range, checkMemory, progress);
    }
    PartHeader header;
    header.mode = arguments.mode == Mode::Characters ? 'c' : 'w';
    header.n = arguments.n;
    header.input = counted.input;
    header.from = counted.from;
    header.to = counted.to;
    header.inputName = counted.inputName;
    // The chunk buffer is gone: the part's writer holds what the budget
    // keeps aside now.
    table.reserveMemory(PartWriter::MemoryBytes);
    PartWriter part(arguments.output, header);
    progress.startPhase("writing the part", std::nullopt);
    table.visitCountsInOrder([&](std::string_view text, std::int64_t count) {
        part.add(text, count);
        if ((part.entries() & 0xFFFF) == 0) progress.set(part.bytesWritten());
    });
    part.commit();
    progress.finish();
    std::cout << arguments.output << ": " << part.entries() << " distinct n-grams, " << part.totalCount()
              << " in all, bytes " << header.from << "-" << header.to << " of " << arguments.input
              << std::endl;
}

// `tallomer-part MODE N [INPUT]` checks MODE and N as a count would and
// prints the byte multiple that FROM and TO must be (besides the input's
// size), or `whole` for an input that is counted whole, so that a workflow
// plans its parts from the program's own rules.
int checkModeAndN(const char* mode, const char* n, const char* input) {
    ParsedArguments parsed = parseArguments(mode, n, input ? input : "", "");
    if (!parsed.arguments) {
        reportArgumentError(Program, parsed.error);
        return 1;
    }
    Mode counting = parsed.arguments->mode;
    std::optional<std::int64_t> multiple = rangeMultiple(counting);
    if (int failed = runReportingFailures(Program, input ? input : "", "out of memory", [&] {
            if (input) multiple = rangeMultipleOf(input, counting);
        }))
        return failed;
    if (multiple)
        std::cout << *multiple << std::endl;
    else
        std::cout << "whole" << std::endl;
    return checkStandardOutput(Program);
}

// `tallomer-part MODE N @LIST`: the answer of the three-argument form for
// every input the list names, one line each in order, with what planning
// needs besides (see describeListedInput), from one process. Stops at the
// first input that fails.
int describeListedInputs(const char* mode, const char* n, const std::string& list) {
    ParsedArguments parsed = parseArguments(mode, n, "", "");
    if (!parsed.arguments) {
        reportArgumentError(Program, parsed.error);
        return 1;
    }
    std::vector<ListLine> lines;
    if (int failed =
            runReportingFailures(Program, list, "out of memory", [&] { lines = readListLines(list); }))
        return failed;
    for (const ListLine& line : lines)
        if (int failed = runReportingFailures(Program, line.text, "out of memory", [&] {
                std::cout << describeListedInput(line.text, parsed.arguments->mode) << '\n';
            }))
            return failed;
    return checkStandardOutput(Program);
}

// Counts one part, as the counting form does, within the resources taken
// at start.
int countPart(const Arguments& arguments, const PartRange& range, const Resources& resources) {
    MemoryCheck checkMemory = memoryCheckWithin(resources.limits, resources.budget, arguments.input);
    return runReportingFailures(Program, arguments.input,
                                "out of memory while counting: less memory is left than there was at start",
                                [&] { countRangeAndWrite(arguments, range, resources, checkMemory); });
}

// `tallomer-part MODE N @LIST FOLDER`: each part the list names counted as
// `tallomer-part MODE N INPUT FROM TO FOLDER/PART` counts it, one after the
// other in one process; stops at the first that fails, the parts before it
// complete. Every line is checked before the first is counted.
int countListedParts(const char* mode, const char* n, const std::string& list, const std::string& folder) {
    ParsedArguments parsed = parseArguments(mode, n, "", "");
    if (!parsed.arguments) {
        reportArgumentError(Program, parsed.error);
        return 1;
    }
    if (folder.empty()) {
        reportArgumentError(Program, "the part folder must not be empty");
        return 1;
    }
    std::vector<ListedPart> parts;
    if (int failed = runReportingFailures(Program, list, "out of memory", [&] {
            parts = parseListedParts(list, folder, readListLines(list));
        }))
        return failed;
    Resources resources = takeResources();
    for (const ListedPart& part : parts) {
        Arguments arguments{parsed.arguments->mode, parsed.arguments->n, part.input, part.part};
        if (int failed = countPart(arguments, part.range, resources)) return failed;
    }
    return checkStandardOutput(Program);
}
}  // namespace

int main(int argc, char** argv) {
    cleanUpTemporaryFilesOnSignals();
    bool list = argc >= 4 && argv[3][0] == '@';
    if (list && argc == 4) return describeListedInputs(argv[1], argv[2], argv[3] + 1);
    if (list && argc == 5) return countListedParts(argv[1], argv[2], argv[3] + 1, argv[4]);
    if (argc == 3 || argc == 4) return checkModeAndN(argv[1], argv[2], argc == 4 ? argv[3] : nullptr);
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
    std::optional<PartRange> range = parsePartRange(argv[4], argv[5]);
    if (!range) {
        reportArgumentError(Program, "the range \"" + std::string(argv[4]) + "\" \"" + argv[5] +
                                         "\" must be two byte offsets (decimal), or an offset and end");
        return 1;
    }
    if (int failed = countPart(*parsed.arguments, *range, takeResources())) return failed;
    return checkStandardOutput(Program);
}
