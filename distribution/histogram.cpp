#include "histogram.h"

#include <iostream>
#include <unordered_map>

#include "console.h"
#include "count_file_reader.h"
#include "file_io.h"
#include "number_text.h"
#include "report.h"

namespace {

constexpr const char* Program = "distribution";

// Buckets are few, so a plain hash map costs nothing worth measuring.
std::unordered_map<std::int64_t, std::int64_t> BucketCountTable;

}  // namespace

std::optional<std::int64_t> parseBucketSize(const char* text) {
    auto size = parseLeadingInteger(text);
    if (!size || *size == 0) return std::nullopt;
    return size;
}

void countBucket(std::int64_t index) {
    ++BucketCountTable[index];
}

void bucketCounts(const std::string& path, std::int64_t bucketSize) {
    forEachCountInFile(path, [&](std::int64_t count) {
        // The one quotient that leaves 64 bits.
        if (bucketSize == -1 && count == INT64_MIN)
            throw IoError(path, "the count " + std::to_string(count) +
                                    " divided by the bucket size -1 does not fit in 64 bits");
        countBucket(count / bucketSize);
    });
}

void writeHistogramFile(const std::string& path) {
    OutputFile file(path);
    for (const auto& [index, number] : BucketCountTable) {
        file.writeDecimal(index);
        file.write(';');
        file.writeDecimal(number);
        file.writeLineEnd();
    }
    file.close();
}

void forEachBucket(const std::function<void(std::int64_t, std::int64_t)>& visit) {
    for (const auto& [index, number] : BucketCountTable) visit(index, number);
}

void clearBucketCountTable() {
    BucketCountTable.clear();
}

int runDistribution(int argc, const char* const* argv) {
    if (argc != 4) {
        printUsageBlock("histogramm [bucket size] [input file] [output file]");
        return 1;
    }
    auto bucketSize = parseBucketSize(argv[1]);
    if (!bucketSize) {
        reportFailure(Program, "",
                      "bucket size \"" + std::string(argv[1]) +
                          "\" must be a whole number other than 0, from -9223372036854775808 to "
                          "9223372036854775807");
        return 1;
    }
    const std::string input = argv[2], output = argv[3];
    // The count file is read in full and closed before the histogram file is
    // opened: the output may name the input, and an input that fails leaves
    // an existing histogram alone.
    return runReportingFailures(Program, input, "out of memory", [&] {
        bucketCounts(input, *bucketSize);
        writeHistogramFile(output);
    });
}
