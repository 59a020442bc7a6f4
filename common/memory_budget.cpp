#include "common/memory_budget.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>

namespace {

// A limit of this much or more means "none".
constexpr std::int64_t NoLimit = std::int64_t{1} << 60;

std::string_view trimmed(std::string_view text) {
    const std::string_view blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::optional<std::int64_t> limitLeft(int resource, const std::optional<std::int64_t>& used) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    auto cap = static_cast<std::int64_t>(std::min<rlim_t>(limit.rlim_cur, NoLimit));
    return std::max<std::int64_t>(0, cap - used.value_or(0));
}

std::optional<std::int64_t> fileBytes(const ReadText& read, const std::string& path) {
    std::optional<std::string> text = read(path);
    return text ? memoryFileBytes(*text) : std::nullopt;
}

std::optional<std::int64_t> fieldOfFile(const std::string& path, std::string_view name) {
    std::optional<std::string> text = wholeFile(path);
    return text ? kilobytesField(*text, name) : std::nullopt;
}

}  // namespace

std::optional<std::int64_t> memoryFileBytes(std::string_view text) {
    text = trimmed(text);
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (value <= 0 || value >= NoLimit) return std::nullopt;
    return value;
}

std::optional<std::int64_t> kilobytesField(std::string_view text, std::string_view name) {
    while (!text.empty()) {
        std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.size() <= name.size() || line.substr(0, name.size()) != name || line[name.size()] != ':')
            continue;
        std::string_view rest = trimmed(line.substr(name.size() + 1));
        std::int64_t kilobytes = 0;
        auto [after, error] = std::from_chars(rest.data(), rest.data() + rest.size(), kilobytes);
        if (error != std::errc{} || kilobytes < 0 || kilobytes > NoLimit / 1024) return std::nullopt;
        return kilobytes * 1024;
    }
    return std::nullopt;
}

std::optional<std::int64_t> controlGroupMemoryLeft(std::string_view procSelfCgroup, const ReadText& read) {
    std::optional<std::int64_t> least;
    forEachGroupFolder(procSelfCgroup, [&](std::string_view controllers, const std::string& folder) {
        std::optional<std::int64_t> limit, used;
        if (controllers.empty()) {
            limit = fileBytes(read, groupFile("/sys/fs/cgroup", folder, "memory.max"));
            used = fileBytes(read, groupFile("/sys/fs/cgroup", folder, "memory.current"));
        } else if (namesController(controllers, "memory")) {
            limit = fileBytes(read, groupFile("/sys/fs/cgroup/memory", folder, "memory.limit_in_bytes"));
            used = fileBytes(read, groupFile("/sys/fs/cgroup/memory", folder, "memory.usage_in_bytes"));
        }
        if (!limit) return;
        std::int64_t left = std::max<std::int64_t>(0, *limit - used.value_or(0));
        if (!least || left < *least) least = left;
    });
    return least;
}

void shareAllocatorArenas(const MemoryLimits& limits) {
    if (limits.addressSpaceLeft) mallopt(M_ARENA_MAX, 1);
}

void keepFreedMemory() {
    // Blocks up to 32 MiB (the most allowed) come from the arenas, and an
    // arena's free top is kept up to 1 GiB.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

MemoryLimits currentMemoryLimits() {
    MemoryLimits limits;
    long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) limits.physical = std::int64_t{pages} * pageSize;
    limits.availableAtStart = fieldOfFile("/proc/meminfo", "MemAvailable");
    limits.addressSpaceLeft = limitLeft(RLIMIT_AS, fieldOfFile("/proc/self/status", "VmSize"));
    limits.dataLeft = limitLeft(RLIMIT_DATA, fieldOfFile("/proc/self/status", "VmData"));
    if (std::optional<std::string> groups = wholeFile("/proc/self/cgroup"))
        limits.controlGroupLeft = controlGroupMemoryLeft(*groups, wholeFile);
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

// Above ten headrooms the budget is least − least / 10, at least budget
// exactly when 9 × least ≥ 10 × budget − 9.
std::int64_t limitForBudget(std::int64_t budget) {
    return std::max(budget + MinimumHeadroom, (budget * 10 - 1) / 9);
}
