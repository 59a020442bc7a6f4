// What every count starts from, for tallomer and tallomer-part alike: the
// memory limits the process runs under, the budget within them, the check
// that tells too little memory at start rather than after hours, and the
// table that counts within that budget on the CPUs the process may use.
#pragma once

#include <cstdint>
#include <string>

#include "common/memory_budget.h"
#include "counting/chunked_input.h"
#include "counting/ngram_count_table.h"

class CountingSession {
public:
    // Reads the limits and shares the allocator's arenas among the threads
    // within them; `input` is what a memory check names.
    explicit CountingSession(const std::string& input);

    std::int64_t budget() const { return budget_; }
    const MemoryCheck& checkMemory() const { return checkMemory_; }

    // The table for a count into `output`, its temporary runs in
    // `temporaryFolder`. Checks first that the output can be made: not
    // after a run of hours.
    NGramCountTable table(const std::string& output, const std::string& temporaryFolder) const;

private:
    MemoryLimits limits_;
    std::int64_t budget_;
    MemoryCheck checkMemory_;
};
