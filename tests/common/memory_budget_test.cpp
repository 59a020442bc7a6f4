#include "common/memory_budget.h"

#include <gtest/gtest.h>

#include <map>

namespace {

constexpr std::int64_t MiB = std::int64_t{1} << 20;
constexpr std::int64_t Headroom = 48 * MiB;
const std::optional<std::int64_t> None;

TEST(MemoryFileBytes, ReadsALimitAndTakesHugeOnesAsNone) {
    struct Case {
        std::string_view text;
        std::optional<std::int64_t> bytes;
    };
    const Case cases[] = {
        {"1073741824\n", 1073741824},
        {" 4096 ", 4096},
        {"max\n", None},
        {"9223372036854771712\n", None},
        {"1152921504606846975", (std::int64_t{1} << 60) - 1},
        {"1152921504606846976", None},
        {"99999999999999999999", None},
        {"0", None},
        {"-4096", None},
        {"", None},
        {"12x", None},
    };
    for (const auto& c : cases) EXPECT_EQ(memoryFileBytes(c.text), c.bytes) << '"' << c.text << '"';
}

TEST(KilobytesField, FindsTheWholeNameAtALineStart) {
    const std::string_view status =
        "VmPeak:\t  900 kB\nVmSize:\t  812 kB\nVmData:\t 20 kB\nMemAvailableX: 1 kB\n";
    struct Case {
        std::string_view name;
        std::optional<std::int64_t> bytes;
    };
    const Case cases[] = {
        {"VmSize", 812 * 1024}, {"VmData", 20 * 1024},  {"VmPeak", 900 * 1024},
        {"Vm", None},           {"MemAvailable", None}, {"Size", None},
    };
    for (const auto& c : cases) EXPECT_EQ(kilobytesField(status, c.name), c.bytes) << c.name;
    EXPECT_EQ(kilobytesField("MemTotal: 4 kB\nMemAvailable: 3 kB", "MemAvailable"), 3 * 1024);
    EXPECT_EQ(kilobytesField("", "MemAvailable"), None);
}

TEST(ControlGroupMemoryLeft, TakesTheLeastRoomOfTheGroupsAndTheirParents) {
    using Files = std::map<std::string, std::string>;
    struct Case {
        const char* name;
        std::string_view procSelfCgroup;
        Files files;
        std::optional<std::int64_t> left;
    };
    const std::string v2 = "/sys/fs/cgroup", v1 = "/sys/fs/cgroup/memory";
    const Case cases[] = {
        {"v2 own group",
         "0::/a\n",
         {{v2 + "/a/memory.max", "1000\n"}, {v2 + "/a/memory.current", "300\n"}},
         700},
        // A batch job's tasks sit below the group that holds its limit.
        {"v2 limit on a parent",
         "0::/job/step/task\n",
         {{v2 + "/job/step/task/memory.max", "max\n"},
          {v2 + "/job/memory.max", "5000\n"},
          {v2 + "/job/memory.current", "1000\n"}},
         4000},
        {"v2 the parent's room is less",
         "0::/a/b\n",
         {{v2 + "/a/b/memory.max", "3000"},
          {v2 + "/a/memory.max", "4000"},
          {v2 + "/a/memory.current", "2500"}},
         1500},
        {"v2 group absent, mount root", "0::/host/path\n", {{v2 + "/memory.max", "800"}}, 800},
        {"v2 no limit", "0::/a\n", {{v2 + "/a/memory.max", "max\n"}, {v2 + "/a/memory.current", "5"}}, None},
        {"usage above the limit",
         "0::/a\n",
         {{v2 + "/a/memory.max", "10"}, {v2 + "/a/memory.current", "20"}},
         0},
        {"v1 memory controller",
         "5:cpu:/x\n4:memory:/x/y\n",
         {{v1 + "/x/y/memory.limit_in_bytes", "9223372036854771712\n"},
          {v1 + "/x/memory.limit_in_bytes", "2000\n"},
          {v1 + "/x/memory.usage_in_bytes", "500\n"}},
         1500},
        {"v1 other controllers only", "3:cpu:/x\n", {{v1 + "/x/memory.limit_in_bytes", "100"}}, None},
        {"hybrid, the least wins",
         "4:memory:/x\n0::/y\n",
         {{v1 + "/x/memory.limit_in_bytes", "900"}, {v2 + "/y/memory.max", "600"}},
         600},
        {"no lines", "", {{v2 + "/memory.max", "100"}}, None},
    };
    for (const auto& c : cases) {
        auto read = [&](const std::string& path) -> std::optional<std::string> {
            auto found = c.files.find(path);
            if (found == c.files.end()) return std::nullopt;
            return found->second;
        };
        EXPECT_EQ(controlGroupMemoryLeft(c.procSelfCgroup, read), c.left) << c.name;
    }
}

TEST(MemoryBudget, IsTheLeastLimitLessATenthOrTheHeadroom) {
    struct Case {
        const char* name;
        MemoryLimits limits;
        std::int64_t least, budget;
    };
    const std::int64_t GiB = 1024 * MiB;
    const Case cases[] = {
        {"none known", {}, GiB, GiB - GiB / 10},
        {"the least of all", {8 * GiB, 6 * GiB, 5 * GiB, 7 * GiB, 9 * GiB}, 5 * GiB, 5 * GiB - 5 * GiB / 10},
        {"the group's room", {8 * GiB, None, None, None, 1000 * MiB}, 1000 * MiB, 900 * MiB},
        {"nothing left", {8 * GiB, 0, None, None, None}, 0, 0},
        {"below the headroom", {Headroom - 1, None, None, None, None}, Headroom - 1, 0},
        {"one past the headroom", {Headroom + 1, None, None, None, None}, Headroom + 1, 1},
        {"a tenth equals the headroom", {10 * Headroom, None, None, None, None}, 10 * Headroom, 9 * Headroom},
        {"a tenth rounds down",
         {10 * Headroom + 19, None, None, None, None},
         10 * Headroom + 19,
         9 * Headroom + 18},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(leastLimit(c.limits), c.least) << c.name;
        EXPECT_EQ(budgetWithin(c.limits), c.budget) << c.name;
    }
}

// The limit the "needs at least" message names: it gives the budget, and
// one byte less does not, on both sides of where the tenth passes the
// headroom.
TEST(MemoryBudget, LimitForBudgetIsTheLeastThatGivesIt) {
    auto budgetOf = [](std::int64_t limit) { return budgetWithin(MemoryLimits{limit, {}, {}, {}, {}}); };
    for (std::int64_t budget : {std::int64_t{1}, MiB, 9 * Headroom - 20, 9 * Headroom - 8, 9 * Headroom - 1,
                                9 * Headroom, 9 * Headroom + 1, 9 * Headroom + 9, 9 * Headroom + 10,
                                std::int64_t{1} << 40, (std::int64_t{1} << 59) + 7})
        for (std::int64_t b = budget; b < budget + 20; ++b) {
            std::int64_t limit = limitForBudget(b);
            EXPECT_GE(budgetOf(limit), b) << "budget " << b;
            EXPECT_LT(budgetOf(limit - 1), b) << "budget " << b;
        }
    EXPECT_EQ(limitForBudget(0), Headroom);
}

}  // namespace
