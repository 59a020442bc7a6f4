// tallomer: counts the character or word n-grams of one file of any size and
// writes their count file.
#include <iostream>

#include "common/console.h"
#include "common/report.h"
#include "common/signal_cleanup.h"
#include "tallomer/arguments.h"
#include "tallomer/chunked_input.h"
#include "tallomer/ngram_count_table.h"

namespace {
constexpr const char* Program = "tallomer";
}

int main(int argc, char** argv) {
    cleanUpTemporaryFilesOnSignals();
    std::cout << "********Massive NGram counter********" << std::endl;
    if (argc != 5) {
        printUsageBlock("ngram [w/c word or character] [N] [input file] [output file]");
        return 1;
    }
    ParsedArguments parsed = parseArguments(argv[1], argv[2], argv[3], argv[4]);
    if (!parsed.arguments) {
        reportArgumentError(Program, parsed.error);
        return 1;
    }
    const Arguments& arguments = *parsed.arguments;

    std::cout << "Start..." << std::endl;
    auto countAndWrite = [&] {
        countInput(arguments, ChunkSize, std::cout);
        writeCountFile(arguments.output);
    };
    if (int failed = runReportingFailures(Program, arguments.input,
                                          "out of memory: the distinct n-grams do not fit; try a smaller N",
                                          countAndWrite))
        return failed;
    waitForNumber();
    std::cout << std::endl << "Done." << std::endl;
    return checkStandardOutput(Program);
}
