// tallomer-part: counts the n-grams that start in one byte range of a file,
// exactly as tallomer counts them in a whole run, and writes them as a part
// file, for tallomer-merge to sum with the other parts on any machine; or
// tells a workflow how an input's parts may be cut.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/report.h"
#include "common/signal_cleanup.h"
#include "counting/arguments.h"
#include "counting/counting_session.h"
#include "tallomer-part/input_cuts.h"
#include "tallomer-part/input_list.h"
#include "tallomer-part/part_count.h"

namespace {
constexpr const char* Program = "tallomer-part";

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

// Counts one part, as the counting form does, within the session's budget.
int countPart(const Arguments& arguments, const PartRange& range, const CountingSession& session) {
    return runReportingFailures(Program, arguments.input,
                                "out of memory while counting: less memory is left than there was at start",
                                [&] { countPartAndWrite(arguments, range, session); });
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
    CountingSession session;
    for (const ListedPart& part : parts) {
        Arguments arguments{parsed.arguments->mode, parsed.arguments->n, part.input, part.part};
        if (int failed = countPart(arguments, part.range, session)) return failed;
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
    if (int failed = countPart(*parsed.arguments, *range, CountingSession())) return failed;
    return checkStandardOutput(Program);
}
