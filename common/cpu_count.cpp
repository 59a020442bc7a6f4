#include "common/cpu_count.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>

namespace {

std::string_view trimmed(std::string_view text) {
    const std::string_view blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A whole text (blanks around it aside) read as a decimal number.
std::optional<std::int64_t> numberText(std::string_view text) {
    text = trimmed(text);
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<int> quotaCpus(std::optional<std::int64_t> quota, std::optional<std::int64_t> period) {
    if (!quota || !period || *quota <= 0 || *period <= 0) return std::nullopt;
    std::int64_t cpus = *quota / *period + (*quota % *period != 0);
    return static_cast<int>(std::min<std::int64_t>(cpus, 1 << 20));
}

// The CPUs in the calling thread's affinity mask, with room for machines
// of more CPUs than cpu_set_t holds.
std::optional<int> affinityCpus() {
    for (int size = CPU_SETSIZE; size <= (1 << 20); size *= 2) {
        cpu_set_t* mask = CPU_ALLOC(size);
        if (mask == nullptr) return std::nullopt;
        std::size_t bytes = CPU_ALLOC_SIZE(size);
        bool read = sched_getaffinity(0, bytes, mask) == 0;
        int count = read ? CPU_COUNT_S(bytes, mask) : 0;
        CPU_FREE(mask);
        if (read) return count;
        if (errno != EINVAL) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> cpuMaxCpus(std::string_view cpuMax) {
    cpuMax = trimmed(cpuMax);
    std::size_t space = cpuMax.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    return quotaCpus(numberText(cpuMax.substr(0, space)), numberText(cpuMax.substr(space + 1)));
}

std::optional<int> cfsQuotaCpus(std::string_view quota, std::string_view period) {
    return quotaCpus(numberText(quota), numberText(period));
}

std::optional<int> controlGroupCpus(std::string_view procSelfCgroup, const ReadText& read) {
    std::optional<int> least;
    auto lower = [&](std::optional<int> cpus) {
        if (cpus && (!least || *cpus < *least)) least = cpus;
    };
    forEachGroupFolder(procSelfCgroup, [&](std::string_view controllers, const std::string& folder) {
        if (controllers.empty()) {
            if (auto text = read(groupFile("/sys/fs/cgroup", folder, "cpu.max"))) lower(cpuMaxCpus(*text));
        } else if (namesController(controllers, "cpu")) {
            auto quota = read(groupFile("/sys/fs/cgroup/cpu", folder, "cpu.cfs_quota_us"));
            auto period = read(groupFile("/sys/fs/cgroup/cpu", folder, "cpu.cfs_period_us"));
            if (quota && period) lower(cfsQuotaCpus(*quota, *period));
        }
    });
    return least;
}

int usableCpus() {
    std::optional<int> cpus = affinityCpus();
    if (!cpus) {
        long online = sysconf(_SC_NPROCESSORS_ONLN);
        if (online > 0) cpus = static_cast<int>(std::min<long>(online, 1 << 20));
    }
    int usable = cpus.value_or(1);
    if (auto groups = wholeFile("/proc/self/cgroup"))
        if (auto quota = controlGroupCpus(*groups, wholeFile)) usable = std::min(usable, *quota);
    return std::max(1, usable);
}
