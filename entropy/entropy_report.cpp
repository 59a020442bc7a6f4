#include "entropy_report.h"

#include <cmath>
#include <iostream>
#include <new>

#include "count_file_reader.h"
#include "file_io.h"
#include "report.h"

namespace {

constexpr const char* Program = "entropy";

void printUsage() {
    std::cout << "Wrong Arguments." << std::endl
              << "Usage:" << std::endl
              << "entropy [input file]" << std::endl
              << "Input file needs to be one byte encoded ISO8592" << std::endl;
}

// The closing pause keeps a console window open until a number is typed;
// end of input or a non-number ends it as well.
void waitForNumber() {
    long long ignored;
    std::cin >> ignored;
}

}  // namespace

EntryTotals countEntries(std::string_view countFile, const std::string& path) {
    EntryTotals totals;
    forEachCount(countFile, path, [&](std::int64_t count) {
        ++totals.distinct;
        if (__builtin_add_overflow(totals.total, count, &totals.total))
            throw IoError(path, "the total of the counts does not fit in 64 bits");
    });
    return totals;
}

// A second pass over the file instead of a list of its counts: the same
// counts in the same order, without 8 more bytes a line.
double sumPLog2P(std::string_view countFile, const std::string& path, std::int64_t total) {
    const double denominator = static_cast<double>(total);
    double sum = 0.0;
    forEachCount(countFile, path, [&](std::int64_t count) {
        double p = static_cast<double>(count) / denominator;
        sum += std::log2(p) * p;
    });
    return sum;
}

void reportEntropy(std::string_view countFile, const std::string& path, std::ostream& console) {
    EntryTotals totals = countEntries(countFile, path);
    console << "Number of different NGrams: " << totals.distinct << std::endl;
    console << "Total number of NGrams: " << totals.total << std::endl;
    console << "Sum: " << sumPLog2P(countFile, path, totals.total) << std::endl;
}

int runEntropy(int argc, const char* const* argv) {
    if (argc != 2) {
        printUsage();
        return 1;
    }
    const std::string path = argv[1];
    try {
        ByteBuffer countFile = readWholeFile(path);
        reportEntropy(std::string_view(countFile.data(), static_cast<std::size_t>(countFile.size)), path,
                      std::cout);
    } catch (const IoError& error) {
        reportFailure(Program, error.path, error.what());
        return 2;
    } catch (const std::bad_alloc&) {
        reportFailure(Program, path, "out of memory: the count file does not fit in memory");
        return 2;
    }
    waitForNumber();
    if (!std::cout) {
        reportFailure(Program, "standard output", "write error");
        return 2;
    }
    return 0;
}
