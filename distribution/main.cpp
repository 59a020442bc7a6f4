// distribution: a histogram of a count file's counts.
#include <string>

#include "common/console.h"
#include "common/replacement_file.h"
#include "common/report.h"
#include "common/signal_cleanup.h"
#include "distribution/histogram.h"

namespace {
constexpr const char* Program = "distribution";
}

int main(int argc, char** argv) {
    cleanUpTemporaryFilesOnSignals();
    if (argc != 4) {
        printUsageBlock("histogramm [bucket size] [input file] [output file]");
        return 1;
    }
    auto bucketSize = parseBucketSize(argv[1]);
    if (!bucketSize) {
        reportArgumentError(Program,
                            "bucket size \"" + std::string(argv[1]) +
                                "\" must be a whole number other than 0, from -9223372036854775808 to "
                                "9223372036854775807");
        return 1;
    }
    const std::string input = argv[2], output = argv[3];

    // The count file is read in full and closed before the histogram file is
    // opened: the output may name the input, and an input that fails leaves
    // an existing histogram alone. Whether the histogram can be made at all
    // is known before the reading.
    auto bucketAndWrite = [&] {
        ReplacementFile::checkCanBeMade(output);
        bucketCounts(input, *bucketSize);
        writeHistogramFile(output);
    };
    return runReportingFailures(Program, input, "out of memory", bucketAndWrite);
}
