#include "common/cpu_count.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <map>
#include <thread>

namespace {

TEST(CpuMaxCpus, RoundsTheQuotaUpAndReadsMaxAsNone) {
    struct Case {
        std::string_view text;
        std::optional<int> cpus;
    };
    const Case cases[] = {
        {"max 100000\n", std::nullopt}, {"max", std::nullopt},      {"100000 100000\n", 1},
        {"150000 100000\n", 2},         {"50000 100000", 1},        {"400000 100000", 4},
        {"400001 100000", 5},           {"1000 1000000", 1},        {"", std::nullopt},
        {"100000", std::nullopt},       {"100000 0", std::nullopt}, {"-1 100000", std::nullopt},
        {"12x 100000", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(cpuMaxCpus(c.text), c.cpus) << '"' << c.text << '"';
}

TEST(CfsQuotaCpus, ReadsMinusOneAsNone) {
    struct Case {
        std::string_view quota, period;
        std::optional<int> cpus;
    };
    const Case cases[] = {
        {"-1\n", "100000\n", std::nullopt}, {"200000\n", "100000\n", 2},   {"250000", "100000", 3},
        {"200000", "", std::nullopt},       {"200000", "0", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(cfsQuotaCpus(c.quota, c.period), c.cpus) << c.quota;
}

TEST(ControlGroupCpus, TakesTheLeastQuotaOfTheGroupsAndTheirParents) {
    using Files = std::map<std::string, std::string>;
    struct Case {
        const char* name;
        std::string_view procSelfCgroup;
        Files files;
        std::optional<int> cpus;
    };
    const std::string v1 = "/sys/fs/cgroup/cpu";
    const Case cases[] = {
        {"v2 own group", "0::/a/b\n", {{"/sys/fs/cgroup/a/b/cpu.max", "200000 100000\n"}}, 2},
        {"v2 parent lower",
         "0::/a/b\n",
         {{"/sys/fs/cgroup/a/b/cpu.max", "max 100000\n"}, {"/sys/fs/cgroup/a/cpu.max", "100000 100000\n"}},
         1},
        {"v2 namespace root", "0::/\n", {{"/sys/fs/cgroup/cpu.max", "300000 100000\n"}}, 3},
        {"v2 group absent, mount root", "0::/host/path\n", {{"/sys/fs/cgroup/cpu.max", "300000 100000"}}, 3},
        {"v2 no quota", "0::/a\n", {{"/sys/fs/cgroup/a/cpu.max", "max 100000\n"}}, std::nullopt},
        {"v1 cpu,cpuacct",
         "5:cpuset:/\n4:cpu,cpuacct:/x\n",
         {{v1 + "/x/cpu.cfs_quota_us", "300000\n"}, {v1 + "/x/cpu.cfs_period_us", "100000\n"}},
         3},
        {"v1 quota without period", "4:cpu:/x\n", {{v1 + "/x/cpu.cfs_quota_us", "300000\n"}}, std::nullopt},
        {"v1 other controllers only",
         "3:cpuset:/x\n2:cpuacct:/x\n1:memory:/x\n",
         {{v1 + "/x/cpu.cfs_quota_us", "100000"}, {v1 + "/x/cpu.cfs_period_us", "100000"}},
         std::nullopt},
        {"hybrid, the least wins",
         "4:cpu:/x\n0::/y\n",
         {{v1 + "/cpu.cfs_quota_us", "400000"},
          {v1 + "/cpu.cfs_period_us", "100000"},
          {"/sys/fs/cgroup/y/cpu.max", "200000 100000"}},
         2},
        {"no lines", "", {{"/sys/fs/cgroup/cpu.max", "100000 100000"}}, std::nullopt},
    };
    for (const auto& c : cases) {
        auto read = [&](const std::string& path) -> std::optional<std::string> {
            auto found = c.files.find(path);
            if (found == c.files.end()) return std::nullopt;
            return found->second;
        };
        EXPECT_EQ(controlGroupCpus(c.procSelfCgroup, read), c.cpus) << c.name;
    }
}

// usableCpus() reads the calling thread's mask, so a thread bound to one
// CPU sees 1 and leaves the test's own mask as it was.
TEST(UsableCpus, FollowsTheAffinityMask) {
    cpu_set_t mask;
    ASSERT_EQ(sched_getaffinity(0, sizeof mask, &mask), 0);
    int first = 0;
    while (!CPU_ISSET(first, &mask)) ++first;
    int seen = 0;
    std::thread bound([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(first, &one);
        if (sched_setaffinity(0, sizeof one, &one) == 0) seen = usableCpus();
    });
    bound.join();
    EXPECT_EQ(seen, 1);
    EXPECT_GE(usableCpus(), 1);
    EXPECT_LE(usableCpus(), CPU_COUNT(&mask));
}

}  // namespace
