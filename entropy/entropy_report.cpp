#include "entropy/entropy_report.h"

#include <cmath>
#include <iostream>

#include "common/file_io.h"
#include "formats/count_file_reader.h"

EntryTotals countEntries(const std::string& path) {
    EntryTotals totals;
    forEachCountInFile(path, [&](std::int64_t count) {
        ++totals.distinct;
        if (__builtin_add_overflow(totals.total, count, &totals.total))
            throw IoError(path, "the total of the counts does not fit in 64 bits");
    });
    return totals;
}

double sumPLog2P(const std::string& path, const EntryTotals& totals) {
    const double denominator = static_cast<double>(totals.total);
    double sum = 0.0;
    EntryTotals seen;
    std::uint64_t total = 0;  // wraps instead of overflowing if the file changed
    forEachCountInFile(path, [&](std::int64_t count) {
        double p = static_cast<double>(count) / denominator;
        sum += std::log2(p) * p;
        ++seen.distinct;
        total += static_cast<std::uint64_t>(count);
    });
    if (seen.distinct != totals.distinct || total != static_cast<std::uint64_t>(totals.total))
        throw IoError(path, "the file changed while being read");
    return sum;
}

void reportEntropy(const std::string& path, std::ostream& console) {
    EntryTotals totals = countEntries(path);
    console << "Number of different NGrams: " << totals.distinct << std::endl;
    console << "Total number of NGrams: " << totals.total << std::endl;
    double sum = sumPLog2P(path, totals);
    console << "Sum: " << sum << std::endl;
}
