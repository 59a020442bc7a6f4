#include "common/shown_path.h"

#include <gtest/gtest.h>

#include "tests/support/run_program.h"

namespace {

TEST(ShownPath, ControlBytesAreQuotedAsTheShellQuotesThemAndOtherPathsShownAsTheyAre) {
    using namespace std::string_literals;
    const std::pair<std::string, std::string> cases[] = {
        {"counts/g.part", "counts/g.part"},
        {"a b\\c'd;\xE9\x80", "a b\\c'd;\xE9\x80"},
        {"", "''"},
        {"g.part\r", "$'g.part\\r'"},
        {"a\nb\tc", "$'a\\nb\\tc'"},
        {"\x01\x1F\x7F x", "$'\\x01\\x1f\\x7f x'"},
        {"it's\\n\r", "$'it\\'s\\\\n\\r'"},
        {"a\0b"s, "$'a\\x00b'"},
    };
    for (const auto& [path, shown] : cases) {
        EXPECT_EQ(shownPath(path), shown);
        // What is quoted reads back as the same bytes in a shell (which
        // cannot hold a NUL).
        if (shown != path && path.find('\0') == std::string::npos) {
            ProgramRun echoed = runProgram("/bin/bash", {"-c", "printf %s " + shown});
            EXPECT_EQ(echoed.out, path) << shown;
        }
    }
}

}  // namespace
