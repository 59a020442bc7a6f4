// What every count starts from, for tallomer and tallomer-part alike, taken
// once however many counts follow: the memory limits the process runs
// under, the budget within them and the CPUs it may use; for each count,
// the check that tells too little memory at start rather than after hours,
// and the table that counts within that budget on those CPUs.
#pragma once

#include <cstdint>
#include <string>

#include "common/memory_budget.h"
#include "counting/chunked_input.h"
#include "counting/ngram_count_table.h"

class CountingSession {
public:
    // Reads the limits and the CPUs, and shares the allocator's arenas
    // among the threads within the limits.
    CountingSession();

    std::int64_t budget() const { return budget_; }
    // The check for a count of `input`, which its failure names.
    MemoryCheck checkMemoryFor(const std::string& input) const;

    // The table for a count into `output`, its temporary runs in
    // `temporaryFolder`. Checks first that the output can be made: not
    // after a run of hours.
    NGramCountTable table(const std::string& output, const std::string& temporaryFolder) const;

private:
    MemoryLimits limits_;
    std::int64_t budget_;
    int cpus_;
};
