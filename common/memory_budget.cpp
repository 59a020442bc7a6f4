#include "common/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

namespace {

// A limit of this much or more means "none" (cgroup v1 writes 2^63 rounded
// down to a page).
constexpr std::int64_t NoLimit = std::int64_t{1} << 60;

std::optional<std::int64_t> numberIn(const std::string& path) {
    std::ifstream file(path);
    std::int64_t value;
    if (!(file >> value) || value <= 0 || value >= NoLimit) return std::nullopt;
    return value;
}

// A "Name:   123 kB" line of a /proc status-like file, in bytes.
std::optional<std::int64_t> kilobytesField(const std::string& path, const std::string& name) {
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(name + ":", 0) != 0) continue;
        std::istringstream fields(line.substr(name.size() + 1));
        std::int64_t kilobytes;
        if (fields >> kilobytes) return kilobytes * 1024;
    }
    return std::nullopt;
}

std::optional<std::int64_t> limitLeft(int resource, const std::optional<std::int64_t>& used) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    auto cap = static_cast<std::int64_t>(std::min<rlim_t>(limit.rlim_cur, NoLimit));
    return std::max<std::int64_t>(0, cap - used.value_or(0));
}

// The process's group under the v2 hierarchy ("0::/path") or the v1 memory
// controller ("N:memory:/path").
std::optional<std::int64_t> controlGroupLeft() {
    std::ifstream groups("/proc/self/cgroup");
    for (std::string line; std::getline(groups, line);) {
        std::size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        std::string controllers = line.substr(first + 1, second - first - 1);
        std::string group = line.substr(second + 1);
        std::optional<std::int64_t> limit, used;
        if (controllers.empty()) {
            limit = numberIn("/sys/fs/cgroup" + group + "/memory.max");
            used = numberIn("/sys/fs/cgroup" + group + "/memory.current");
        } else if (controllers == "memory") {
            limit = numberIn("/sys/fs/cgroup/memory" + group + "/memory.limit_in_bytes");
            used = numberIn("/sys/fs/cgroup/memory" + group + "/memory.usage_in_bytes");
        }
        if (limit) return std::max<std::int64_t>(0, *limit - used.value_or(0));
    }
    return std::nullopt;
}

}  // namespace

MemoryLimits currentMemoryLimits() {
    MemoryLimits limits;
    long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) limits.physical = std::int64_t{pages} * pageSize;
    limits.availableAtStart = kilobytesField("/proc/meminfo", "MemAvailable");
    limits.addressSpaceLeft = limitLeft(RLIMIT_AS, kilobytesField("/proc/self/status", "VmSize"));
    limits.dataLeft = limitLeft(RLIMIT_DATA, kilobytesField("/proc/self/status", "VmData"));
    limits.controlGroupLeft = controlGroupLeft();
    return limits;
}

namespace {
// A tenth, and at least 48 MiB: the C++ runtime, the output buffers and
// the allocator's slack live outside the budget.
constexpr std::int64_t MinimumHeadroom = std::int64_t{48} << 20;
}  // namespace

std::int64_t leastLimit(const MemoryLimits& limits) {
    std::int64_t least = std::numeric_limits<std::int64_t>::max();
    for (const auto& limit : {limits.physical, limits.availableAtStart, limits.addressSpaceLeft,
                              limits.dataLeft, limits.controlGroupLeft})
        if (limit) least = std::min(least, *limit);
    return least == std::numeric_limits<std::int64_t>::max() ? std::int64_t{1} << 30 : least;
}

std::int64_t budgetWithin(const MemoryLimits& limits) {
    std::int64_t least = leastLimit(limits);
    return std::max<std::int64_t>(0, least - std::max(least / 10, MinimumHeadroom));
}

std::int64_t limitForBudget(std::int64_t budget) {
    return std::max(budget + MinimumHeadroom, (budget * 10 + 8) / 9);
}
