#include "common/cpu_count.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

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

// "/a/b" gives "/a/b", "/a" and "/".
std::vector<std::string> groupAndParents(std::string group) {
    std::vector<std::string> folders;
    while (!group.empty() && group != "/") {
        folders.push_back(group);
        group.erase(group.rfind('/'));
    }
    folders.push_back("/");
    return folders;
}

std::string fileIn(const std::string& root, const std::string& folder, const std::string& name) {
    return root + (folder == "/" ? "" : folder) + "/" + name;
}

bool namesCpuController(std::string_view controllers) {
    while (!controllers.empty()) {
        std::size_t comma = std::min(controllers.find(','), controllers.size());
        if (controllers.substr(0, comma) == "cpu") return true;
        controllers.remove_prefix(std::min(comma + 1, controllers.size()));
    }
    return false;
}

std::optional<std::string> wholeFile(const std::string& path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
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
    while (!procSelfCgroup.empty()) {
        std::size_t end = std::min(procSelfCgroup.find('\n'), procSelfCgroup.size());
        std::string_view line = procSelfCgroup.substr(0, end);
        procSelfCgroup.remove_prefix(std::min(end + 1, procSelfCgroup.size()));
        std::size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos) continue;
        std::string_view controllers = line.substr(first + 1, second - first - 1);
        std::string group(line.substr(second + 1));
        if (group.empty() || group[0] != '/') continue;
        if (controllers.empty()) {
            for (const auto& folder : groupAndParents(group))
                if (auto text = read(fileIn("/sys/fs/cgroup", folder, "cpu.max"))) lower(cpuMaxCpus(*text));
        } else if (namesCpuController(controllers)) {
            for (const auto& folder : groupAndParents(group)) {
                auto quota = read(fileIn("/sys/fs/cgroup/cpu", folder, "cpu.cfs_quota_us"));
                auto period = read(fileIn("/sys/fs/cgroup/cpu", folder, "cpu.cfs_period_us"));
                if (quota && period) lower(cfsQuotaCpus(*quota, *period));
            }
        }
    }
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
