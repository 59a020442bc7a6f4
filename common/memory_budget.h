// How much memory tallomer's large structures (chunk buffer, tables, sort and
// merge buffers) may use, worked out once at start from what the machine
// and the process's limits allow; there is no option to set it.
#pragma once

#include <cstdint>
#include <optional>

// The limits one may meet, each unknown when absent. Sizes in bytes.
struct MemoryLimits {
    std::optional<std::int64_t> physical;
    std::optional<std::int64_t> availableAtStart;
    // RLIMIT_AS and RLIMIT_DATA less what the process already maps.
    std::optional<std::int64_t> addressSpaceLeft;
    std::optional<std::int64_t> dataLeft;
    // The control group's limit less what the group already uses.
    std::optional<std::int64_t> controlGroupLeft;
};

MemoryLimits currentMemoryLimits();

// The least of the known limits (1 GiB when none is known).
std::int64_t leastLimit(const MemoryLimits& limits);

// The least of the known limits less a headroom for what the budget does
// not cover (code, stacks, small allocations, the allocator's slack).
std::int64_t budgetWithin(const MemoryLimits& limits);

// The least limit whose budget is `budget`.
std::int64_t limitForBudget(std::int64_t budget);

inline std::int64_t memoryBudget() { return budgetWithin(currentMemoryLimits()); }
