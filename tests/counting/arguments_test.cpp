#include "counting/arguments.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseArguments, AcceptsOnlyCountableModesAndN) {
    struct Case {
        const char* mode;
        const char* n;
        bool accepted;
        Mode expectedMode;
        int expectedN;
    };
    const Case cases[] = {
        {"c", "3", true, Mode::Characters, 3},
        {"characters", "19", true, Mode::Characters, 19},
        {"c", "1", true, Mode::Characters, 1},
        {"c", " 3x", true, Mode::Characters, 3},
        {"c", "+2", true, Mode::Characters, 2},
        {"w", "1", true, Mode::Words, 1},
        {"words", "85899345", true, Mode::Words, 85899345},
        {"C", "3", false, {}, 0},
        {"W", "3", false, {}, 0},
        {"x", "3", false, {}, 0},
        {"", "3", false, {}, 0},
        {"c", "0", false, {}, 0},
        {"c", "abc", false, {}, 0},
        {"c", "", false, {}, 0},
        {"c", "-1", false, {}, 0},
        {"c", "20", false, {}, 0},
        {"w", "0", false, {}, 0},
        {"w", "85899346", false, {}, 0},
        {"w", "99999999999999999999", false, {}, 0},
    };
    for (const auto& c : cases) {
        ParsedArguments parsed = parseArguments(c.mode, c.n, "in", "out");
        ASSERT_EQ(parsed.arguments.has_value(), c.accepted) << c.mode << " " << c.n;
        if (c.accepted) {
            EXPECT_EQ(parsed.arguments->mode, c.expectedMode);
            EXPECT_EQ(parsed.arguments->n, c.expectedN);
        } else {
            EXPECT_NE(parsed.error.find("must"), std::string::npos) << parsed.error;
        }
    }
}

}  // namespace
