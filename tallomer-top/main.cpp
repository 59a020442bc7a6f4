// tallomer-top: the K entries of a count file with the highest counts, as
// count-file lines on standard output, highest first.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/cpu_count.h"
#include "common/number_text.h"
#include "common/report.h"
#include "common/signal_cleanup.h"
#include "formats/count_lines.h"
#include "lookup/top_entries.h"

namespace {

constexpr const char* Program = "tallomer-top";

void writeEntries(const std::vector<RankedEntry>& entries) {
    StreamSink out(std::cout);
    CountLines lines(out);
    for (const RankedEntry& entry : entries) lines.add(entry.text, entry.count);
    lines.finish();
}

}  // namespace

int main(int argc, char** argv) {
    failWritesInsteadOfDying();
    if (argc != 3) {
        printUsageBlock("tallomer-top [K] [count file]", false);
        return 1;
    }
    std::optional<std::int64_t> k = parseDigits(argv[1]);
    if (!k || *k == 0) {
        reportArgumentError(Program, "K \"" + std::string(argv[1]) +
                                         "\" must be a whole number from 1 to 9223372036854775807");
        return 1;
    }
    const std::string path = argv[2];

    // Every entry is read before the first line goes out: a file found
    // damaged on the way prints nothing.
    auto listTop = [&] { writeEntries(topEntries(path, *k, static_cast<std::size_t>(usableCpus()))); };
    if (int failed = runReportingFailures(Program, path, "out of memory: ask for fewer entries", listTop))
        return failed;
    return checkStandardOutput(Program);
}
