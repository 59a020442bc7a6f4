// tallomer-find: the counts of the given n-grams in a count file, one
// count-file line each, in the order asked; a binary search each.
#include <algorithm>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/report.h"
#include "common/signal_cleanup.h"
#include "formats/count_lines.h"
#include "formats/entry_locator.h"
#include "lookup/count_search.h"

namespace {

constexpr const char* Program = "tallomer-find";

// The n-grams asked for: each argument as it is, and for "-" the lines of
// standard input, each up to its LF (a last line without one counts too).
std::vector<std::string> ngramsAsked(const std::vector<std::string>& arguments) {
    std::vector<std::string> ngrams;
    for (const std::string& argument : arguments) {
        if (argument != "-") {
            ngrams.push_back(argument);
            continue;
        }
        std::string input(std::istreambuf_iterator<char>(std::cin), {});
        for (std::size_t start = 0, lineFeed; start < input.size(); start = lineFeed + 1) {
            lineFeed = std::min(input.find('\n', start), input.size());
            ngrams.push_back(input.substr(start, lineFeed - start));
        }
    }
    return ngrams;
}

// Every count is found before the first line goes out: a file found out of
// order on the way prints nothing.
std::vector<std::int64_t> searchCounts(const std::string& path, const std::vector<std::string>& ngrams) {
    EntryLocator file(path);
    file.checkEnd();
    std::vector<std::int64_t> counts;
    for (const std::string& ngram : ngrams) counts.push_back(searchCount(file, ngram));
    return counts;
}

void writeCounts(const std::vector<std::string>& ngrams, const std::vector<std::int64_t>& counts) {
    StreamSink out(std::cout);
    CountLines lines(out);
    for (std::size_t i = 0; i < ngrams.size(); ++i) lines.add(ngrams[i], counts[i]);
    lines.finish();
}

}  // namespace

int main(int argc, char** argv) {
    failWritesInsteadOfDying();
    if (argc < 3) {
        printUsageBlock("tallomer-find [count file] [n-gram, or - for one a line on standard input]...",
                        false);
        return 1;
    }
    const std::string path = argv[1];
    const std::vector<std::string> ngrams = ngramsAsked({argv + 2, argv + argc});

    auto find = [&] { writeCounts(ngrams, searchCounts(path, ngrams)); };
    if (int failed = runReportingFailures(Program, path, "out of memory", find)) return failed;
    return checkStandardOutput(Program);
}
