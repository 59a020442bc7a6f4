// What the count table holds, and what it should hold, as plain maps.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "tallomer/ngram_count_table.h"

using Counts = std::map<std::string, std::int64_t>;

// The table's entries; each text must be listed once.
inline Counts tableContents() {
    Counts counts;
    forEachNGram([&](std::string_view text, std::int64_t count) {
        auto [entry, inserted] = counts.emplace(text, count);
        EXPECT_TRUE(inserted) << "text listed twice: " << text;
    });
    EXPECT_EQ(distinctNGrams(), static_cast<std::int64_t>(counts.size()));
    return counts;
}

// The windows of n bytes starting before `windows` (all of them by default),
// each cut at its first NUL.
inline Counts everyWindow(const std::string& bytes, int n, std::size_t windows = std::string::npos) {
    Counts counts;
    auto length = static_cast<std::size_t>(n);
    for (std::size_t p = 0; p < windows && p + length <= bytes.size(); ++p) {
        std::string window = bytes.substr(p, length);
        ++counts[window.substr(0, window.find('\0'))];
    }
    return counts;
}
