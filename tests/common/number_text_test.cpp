#include "common/number_text.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseLeadingInteger, ReadsAsAtoiDoesButIn64Bits) {
    struct Case {
        std::string_view text;
        std::optional<std::int64_t> value;
    };
    const Case cases[] = {
        {"12", 12},
        {"  12", 12},
        {"\t\n\v\f\r 7", 7},
        {"+3", 3},
        {"-4", -4},
        {"12\r", 12},
        {"12;5", 12},
        {"3x", 3},
        {"", 0},
        {"x", 0},
        {"-", 0},
        {"+-3", 0},
        {"- 3", 0},
        {"\r", 0},
        {"2147483648", 2147483648},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"00000000000000000000000012", 12},
    };
    for (const auto& c : cases) EXPECT_EQ(parseLeadingInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST(ParseDigits, TakesDecimalDigitsAndNothingElse) {
    const std::pair<std::string_view, std::optional<std::int64_t>> cases[] = {
        {"0", 0},
        {"0012", 12},
        {"9223372036854775807", INT64_MAX},
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"+1", std::nullopt},
        {"-5", std::nullopt},
        {"1e9", std::nullopt},
        {"2x", std::nullopt},
        {"12\r", std::nullopt},
        {"9223372036854775808", std::nullopt},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(parseDigits(text), value) << '"' << text << '"';
}

}  // namespace
