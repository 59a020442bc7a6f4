// How many CPUs the process may run on, worked out from its affinity mask
// and its control group's CPU quota; there is no option to set it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/control_groups.h"

// The CPUs a cgroup v2 `cpu.max` text ("QUOTA PERIOD" in microseconds)
// allows, rounded up: "150000 100000" allows 2. Nothing for "max" (no
// quota) or a text that is not two positive numbers.
std::optional<int> cpuMaxCpus(std::string_view cpuMax);

// The same for cgroup v1's `cpu.cfs_quota_us` and `cpu.cfs_period_us`
// texts; a quota of -1 is none.
std::optional<int> cfsQuotaCpus(std::string_view quota, std::string_view period);

// The least quota of the process's groups named in `procSelfCgroup` (the
// text of /proc/self/cgroup): the v2 group ("0::/path") and the v1 cpu
// controller's ("N:cpu,cpuacct:/path"), each with every folder above it up
// to the root, since a parent's quota limits its children too. The files
// are read through `read` under /sys/fs/cgroup. Nothing when no quota is set.
std::optional<int> controlGroupCpus(std::string_view procSelfCgroup, const ReadText& read);

// The CPUs in the calling thread's affinity mask (which the threads it
// starts inherit), lowered to the control group's quota; at least 1.
int usableCpus();
