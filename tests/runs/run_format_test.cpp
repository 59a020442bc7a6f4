#include "runs/run_format.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::int64_t>>;

// Written into a run in memory (blocks of one page) and in a file, then
// read back through a buffer of a few bytes, so that records cross block
// and buffer ends.
TEST(RunFormat, ReadsBackWhatWasWritten) {
    std::string longText(5000, 'x');
    struct Row {
        const char* what;
        Entries entries;
    } rows[] = {
        {"nothing", {}},
        {"the empty text first", {{"", 3}, {"a", 1}}},
        {"shared prefixes", {{"ab", 1}, {"abc", 2}, {"abd", 3}, {"b", 4}}},
        {"counts of one to ten bytes", {{"a", 127}, {"b", 128}, {"c", 1 << 20}, {"d", INT64_MAX}}},
        {"texts longer than a short record and a block",
         {{longText, 1}, {longText + "y", 2}, {std::string(70, 'z'), 3}}},
        {"high bytes, CR, LF and ';'", {{"\x01;\r\n", 5}, {"\xFF\x80", 6}}},
    };
    TempDir dir;
    BlockPool pool;
    for (const Row& row : rows) {
        for (bool onDisk : {false, true}) {
            ::Run run = onDisk ? ::Run(dir.path("")) : ::Run(pool, 4096);
            RunWriter writer(run);
            for (const auto& [text, count] : row.entries) writer.add(text, count);
            writer.finish();
            Entries read;
            RunReader reader(run, 7);
            while (reader.next()) read.emplace_back(reader.text(), reader.count());
            EXPECT_EQ(read, row.entries) << row.what << (onDisk ? ", in a file" : ", in memory");
        }
    }
}

}  // namespace
