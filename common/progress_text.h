// The words of a progress line: the phase, how much of it is done of how
// much is known, the rate and the time left, in numbers read at a glance.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One phase of long work. Its numbers count bytes (shown in B, kB, MB, GB,
// ..., powers of 1000), or, when `countOf` names them ("blocks"), things
// (shown as 9999, 12.3k, 1.23M, ...).
struct ProgressPhase {
    std::string name;
    std::optional<std::int64_t> total;  // none: not known beforehand
    std::string countOf;
};

// The seconds of a phase before its rate and time left are told: fewer
// give a rate that says more about the start than about the work.
inline constexpr double SecondsBeforeRate = 2.0;

// "PROGRAM: PHASE DONE of TOTAL (P %), RATE/s, M:SS left" for `done` after
// `seconds` of the phase: "of TOTAL (P %)" when the total is known (done
// shown as at most the total, which may be an estimate), the rate once
// SecondsBeforeRate have passed with something done, and the time left when
// both are known and work is left.
std::string progressText(std::string_view program, const ProgressPhase& phase, std::int64_t done,
                         double seconds);

// An amount of the phase's unit: "999 B", "1.23 kB", "456 MB"; "9999",
// "12.3k", "1.23M".
std::string progressAmount(double amount, bool bytes);

// "0:05", "12:34", "1:02:03": seconds rounded up.
std::string progressDuration(double seconds);
