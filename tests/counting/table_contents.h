// What the count table holds, as a plain map.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "counting/count_table_inspection.h"
#include "tests/support/test_inputs.h"

// The table's entries; each text must be listed once.
inline Counts tableContents() {
    EXPECT_EQ(checkNGramCountTable(), "");
    Counts counts;
    forEachNGram([&](std::string_view text, std::int64_t count) {
        auto [entry, inserted] = counts.emplace(text, count);
        EXPECT_TRUE(inserted) << "text listed twice: " << text;
    });
    EXPECT_EQ(distinctNGrams(), static_cast<std::int64_t>(counts.size()));
    return counts;
}
