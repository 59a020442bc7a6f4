// The main flow of entropy: a count file's number of entries, their total
// and the sum of p x log2(p) over them, then the closing pause.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

struct EntryTotals {
    std::int64_t distinct = 0;
    std::int64_t total = 0;
};

// The number of entries of the count file held in `countFile`, and the total
// of their counts. Throws IoError naming the path when a count or the total
// does not fit in 64 bits.
EntryTotals countEntries(std::string_view countFile, const std::string& path);

// The sum over the entries, in file order, of log2(p) x p with
// p = count / total: the total is made a double once, and the terms are
// added one by one with no compensation, so the result is reproducible to
// the last bit. A count of 0, a negative count or a total of 0 give NaN.
double sumPLog2P(std::string_view countFile, const std::string& path, std::int64_t total);

// Prints the three report lines, each flushed; the first two go out before
// the sum is worked out. Throws IoError as countEntries does, before
// printing anything.
void reportEntropy(std::string_view countFile, const std::string& path, std::ostream& console);

// The whole program; returns its exit code.
int runEntropy(int argc, const char* const* argv);
