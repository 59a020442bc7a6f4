// The k-way summing merge (runs/count_merge.h) on the parts named, read
// from their files, and on the same entries as sorted runs in memory. Prints, for each, the best of the
// rounds (five unless told) in CPU nanoseconds per entry read (CPU time, which a machine busy with other work
// stretches less than wall time) and the entries written.
//   kway_merge [-ROUNDS] PART...
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/report.h"
#include "formats/part_file.h"
#include "runs/count_merge.h"
#include "runs/run_format.h"

namespace {

struct Outcome {
    std::int64_t distinct = 0, total = 0;
};

using Sources = std::vector<std::unique_ptr<CountSource>>;
using Merge = std::function<Outcome(const std::vector<CountSource*>&)>;

Outcome merge(const std::vector<CountSource*>& sources) {
    Outcome outcome;
    mergeCounts(sources, [&](std::string_view, std::int64_t count) {
        ++outcome.distinct;
        outcome.total += count;
    });
    return outcome;
}

struct Case {
    const char* what;
    std::function<Sources()> open;
    Merge merge;
    double best = 1e30;
    Outcome outcome{};
};

double cpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Rounds of every case in turn, so that a busy moment of the machine
// slows one round of each rather than all rounds of one.
void timeInTurns(std::vector<Case>& cases, std::int64_t entries, int rounds) {
    for (int round = 0; round < rounds; ++round)
        for (Case& c : cases) {
            Sources sources = c.open();
            std::vector<CountSource*> pointers;
            for (auto& source : sources) pointers.push_back(source.get());
            double start = cpuSeconds();
            c.outcome = c.merge(pointers);
            c.best = std::min(c.best, cpuSeconds() - start);
        }
    for (const Case& c : cases)
        std::printf("%-24s %8.2f ns/entry read, %6.3f s, %lld written, total %lld\n", c.what,
                    c.best * 1e9 / static_cast<double>(entries), c.best,
                    static_cast<long long>(c.outcome.distinct), static_cast<long long>(c.outcome.total));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kway_merge PART...\n");
        return 1;
    }
    try {
        int rounds = 5, first = 1;
        if (argv[1][0] == '-') rounds = std::atoi(argv[first++] + 1);
        std::vector<std::string> paths(argv + first, argv + argc);
        BlockPool pool;
        std::vector<std::unique_ptr<Run>> runs;
        std::int64_t entries = 0;
        for (const std::string& path : paths) {
            PartReader part(path, 1 << 20);
            runs.push_back(std::make_unique<Run>(pool, std::size_t{4} << 20));
            RunWriter writer(*runs.back());
            while (part.next()) writer.add(part.text(), part.count());
            writer.finish();
            entries += runs.back()->entries;
        }
        auto openParts = [&] {
            Sources sources;
            for (const std::string& path : paths)
                sources.push_back(std::make_unique<PartReader>(path, 1 << 20));
            return sources;
        };
        auto openRuns = [&] {
            Sources sources;
            for (const auto& run : runs) sources.push_back(std::make_unique<RunReader>(*run, 1 << 20));
            return sources;
        };
        std::printf("%zu sources, %lld entries\n", paths.size(), static_cast<long long>(entries));
        std::vector<Case> cases;
        cases.push_back({"parts", openParts, merge});
        cases.push_back({"memory runs", openRuns, merge});
        timeInTurns(cases, entries, rounds);
    } catch (const IoError& error) {
        reportFailure("kway_merge", error.path, error.what());
        return 2;
    }
}
