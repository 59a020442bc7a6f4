// tallomer: counts the character or word n-grams of one file of any size and
// writes their count file.
#include <iostream>
#include <string>

#include "common/console.h"
#include "common/report.h"
#include "common/signal_cleanup.h"
#include "common/temporary_file.h"
#include "counting/arguments.h"
#include "counting/chunked_input.h"
#include "counting/counting_session.h"
#include "counting/ngram_count_table.h"

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
    CountingSession session;
#ifdef NGRAM_COUNTING_STATISTICS
    CountingStatistics statistics;
#endif
    auto countAndWrite = [&] {
        NGramCountTable table = session.table(arguments.output, temporaryFolderFor(arguments.output));
        countInput(table, arguments, ChunkSize, PrintedConsole(std::cout),
                   session.checkMemoryFor(arguments.input));
        table.writeCountFile(arguments.output);
#ifdef NGRAM_COUNTING_STATISTICS
        statistics = table.countingStatistics();
#endif
    };
    if (int failed = runReportingFailures(
            Program, arguments.input,
            "out of memory while counting: less memory is left than there was at start", countAndWrite))
        return failed;
#ifdef NGRAM_COUNTING_STATISTICS
    // Built in for the benchmarks only: normal runs print nothing extra.
    std::cerr << "statistics: runs spilled " << statistics.runsSpilled << ", temporary bytes at peak "
              << statistics.temporaryBytesPeak << std::endl;
#endif
    waitForNumber();
    std::cout << std::endl << "Done." << std::endl;
    return checkStandardOutput(Program);
}
