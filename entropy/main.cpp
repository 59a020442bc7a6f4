// entropy: a count file's number of distinct n-grams, their total and the
// sum of p x log2(p) over them.
#include <iostream>
#include <string>

#include "common/console.h"
#include "common/report.h"
#include "common/signal_cleanup.h"
#include "entropy/entropy_report.h"

namespace {
constexpr const char* Program = "entropy";
}

int main(int argc, char** argv) {
    failWritesInsteadOfDying();
    if (argc != 2) {
        printUsageBlock("entropy [input file]");
        return 1;
    }
    const std::string path = argv[1];

    auto report = [&] { reportEntropy(path, std::cout); };
    if (int failed = runReportingFailures(Program, path, "out of memory", report)) return failed;
    waitForNumber();
    return checkStandardOutput(Program);
}
