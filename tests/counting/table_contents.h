// What the count table holds, as a plain map.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "tests/support/table_for_tests.h"
#include "tests/support/test_inputs.h"

// Limits that no test reaches: a table counts in memory.
inline const CountingLimits NoLimits{std::int64_t{1} << 40, "/tmp"};

// The table's entries; each text must be listed once.
inline Counts tableContents(NGramCountTable& table) {
    EXPECT_EQ(checkNGramCountTable(table), "");
    Counts counts;
    forEachNGram(table, [&](std::string_view text, std::int64_t count) {
        auto [entry, inserted] = counts.emplace(text, count);
        EXPECT_TRUE(inserted) << "text listed twice: " << text;
    });
    EXPECT_EQ(distinctNGrams(table), static_cast<std::int64_t>(counts.size()));
    return counts;
}
