#include "runs/run_format.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// A reader that skips towards a text passes only texts below it, whatever
// the text (before, at, between and after the checkpoints), and then reads
// the run's tail exactly; checkpoints every 64 bytes of a run of a
// megabyte are thinned out many times.
TEST(RunFormat, SkipsTowardsATextFromItsCheckpoints) {
    Entries entries;
    for (int i = 0; i < 200'000; ++i) entries.emplace_back("key" + std::to_string(i * 7), i % 5 + 1);
    std::sort(entries.begin(), entries.end());
    TempDir dir;
    BlockPool pool;
    for (bool onDisk : {false, true}) {
        ::Run run = onDisk ? ::Run(dir.path("")) : ::Run(pool, 1 << 16);
        RunWriter writer(run, 64);
        for (const auto& [text, count] : entries) writer.add(text, count);
        writer.finish();
        ASSERT_GT(run.checkpoints.size(), RunWriter::MostCheckpoints / 2);
        ASSERT_LE(run.checkpoints.size(), 2 * RunWriter::MostCheckpoints);
        for (const std::string& from : std::vector<std::string>{"", "a", "key", "key5", "key70000",
                                                                "key99999", "kez", entries[1234].first}) {
            RunReader reader(run, 100);
            reader.skipTowards(from);
            Entries tail;
            while (reader.next())
                if (reader.text() >= from)
                    tail.emplace_back(reader.text(), reader.count());
                else
                    EXPECT_TRUE(tail.empty()) << "a text below " << from << " after one above it";
            auto first =
                std::lower_bound(entries.begin(), entries.end(), std::make_pair(from, std::int64_t{0}));
            EXPECT_TRUE(tail == Entries(first, entries.end()))
                << from << (onDisk ? ", in a file" : ", in memory");
        }
    }
}

}  // namespace
