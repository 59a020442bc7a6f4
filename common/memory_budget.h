// How much memory tallomer's large structures (chunk buffer, tables, sort and
// merge buffers) may use, worked out once at start from what the machine
// and the process's limits allow; there is no option to set it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/control_groups.h"

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

// Under an address-space limit the threads share one allocator arena: an
// arena of a thread's own takes 64 MB of the address space at once, and
// a thread that cannot have it fails to allocate.
void shareAllocatorArenas(const MemoryLimits& limits);

// The allocator keeps the memory freed, up to 1 GiB, for the allocations
// after, where it would give blocks of over 128 KiB back to the kernel and
// fault them in again when taken anew. For a program that frees and takes
// the same buffers over and over (a merge range after range), so that what
// is kept is what was in use before.
void keepFreedMemory();

// A control group's limit or usage file (memory.max, memory.limit_in_bytes,
// memory.current), blanks around it aside: nothing for "max", for a number
// that is not positive, and for one of 2^60 or more (v1 writes "no limit"
// as 2^63 rounded down to a page).
std::optional<std::int64_t> memoryFileBytes(std::string_view text);

// The "Name:   123 kB" line of a /proc/meminfo or /proc/self/status text,
// in bytes.
std::optional<std::int64_t> kilobytesField(std::string_view text, std::string_view name);

// What the process's groups named in `procSelfCgroup` (the text of
// /proc/self/cgroup) leave below their limits: the least limit less usage
// of the v2 group ("0::/path") and the v1 memory controller's
// ("N:memory:/path"), each with every folder above it, read through `read`
// under /sys/fs/cgroup. Nothing when no limit is set.
std::optional<std::int64_t> controlGroupMemoryLeft(std::string_view procSelfCgroup, const ReadText& read);

// The least of the known limits (1 GiB when none is known).
std::int64_t leastLimit(const MemoryLimits& limits);

// The least of the known limits less a headroom for what the budget does
// not cover (code, stacks, small allocations, the allocator's slack).
std::int64_t budgetWithin(const MemoryLimits& limits);

// The least limit whose budget is `budget`.
std::int64_t limitForBudget(std::int64_t budget);

inline std::int64_t memoryBudget() { return budgetWithin(currentMemoryLimits()); }
