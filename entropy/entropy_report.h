// entropy's report: a count file's number of entries, their total and the
// sum of p x log2(p) over them.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

struct EntryTotals {
    std::int64_t distinct = 0;
    std::int64_t total = 0;
};

// The number of entries of the count file and the total of their counts.
// Throws IoError naming the path when the file cannot be read or a count or
// the total does not fit in 64 bits.
EntryTotals countEntries(const std::string& path);

// The sum over the entries, in file order, of log2(p) x p with
// p = count / total: the total is made a double once, and the terms are
// added one by one with no compensation, so the result is reproducible to
// the last bit. A count of 0, a negative count or a total of 0 give NaN.
// Reads the file a second time instead of keeping its counts; throws
// IoError when it no longer holds the entries that `totals` describes.
double sumPLog2P(const std::string& path, const EntryTotals& totals);

// Prints the three report lines, each flushed; the first two go out before
// the sum is worked out. A file that cannot be read or holds a count beyond
// 64 bits raises IoError before anything is printed.
void reportEntropy(const std::string& path, std::ostream& console);
