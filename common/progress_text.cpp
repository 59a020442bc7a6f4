#include "common/progress_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string progressAmount(double amount, bool bytes) {
    static constexpr const char* Prefixes[] = {"", "k", "M", "G", "T", "P", "E"};
    char text[32];
    if (amount < (bytes ? 999.5 : 9999.5)) {
        std::snprintf(text, sizeof text, bytes ? "%.0f B" : "%.0f", std::max(amount, 0.0));
        return text;
    }
    // Three digits: 1.23, 12.3 or 123 of the prefix, moving up where
    // rounding gives 1000.
    std::size_t prefix = 0;
    while (amount >= 999.5 && prefix + 1 < std::size(Prefixes)) {
        amount /= 1000;
        ++prefix;
    }
    const char* format = amount < 9.995 ? "%.2f%s%s" : amount < 99.95 ? "%.1f%s%s" : "%.0f%s%s";
    std::snprintf(text, sizeof text, format, amount, bytes ? " " : "", Prefixes[prefix]);
    return bytes ? std::string(text) + "B" : std::string(text);
}

std::string progressDuration(double seconds) {
    long long whole = static_cast<long long>(std::ceil(std::max(seconds, 0.0)));
    char text[32];
    if (whole < 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

std::string progressText(std::string_view program, const ProgressPhase& phase, std::int64_t done,
                         double seconds) {
    bool bytes = phase.countOf.empty();
    std::string noun = bytes ? std::string() : " " + phase.countOf;
    std::string text = std::string(program) + ": " + phase.name + " ";
    if (phase.total) {
        std::int64_t total = std::max<std::int64_t>(*phase.total, 0);
        std::int64_t shown = std::clamp<std::int64_t>(done, 0, total);
        text += progressAmount(static_cast<double>(shown), bytes) + " of " +
                progressAmount(static_cast<double>(total), bytes) + noun;
        if (total > 0) {
            double percent = std::floor(static_cast<double>(shown) * 100 / static_cast<double>(total));
            text += " (" + std::to_string(static_cast<int>(percent)) + " %)";
        }
    } else {
        text += progressAmount(static_cast<double>(done), bytes) + noun;
    }
    if (seconds < SecondsBeforeRate || done <= 0) return text;
    double rate = static_cast<double>(done) / seconds;
    text += ", " + progressAmount(rate, bytes) + noun + "/s";
    if (phase.total && done < *phase.total)
        text += ", " + progressDuration(static_cast<double>(*phase.total - done) / rate) + " left";
    return text;
}
