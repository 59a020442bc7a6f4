// The top entries and the search against brute force over count files of
// awkward entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "formats/entry_locator.h"
#include "lookup/count_search.h"
#include "lookup/top_entries.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

// The best K by a stable sort of every entry: equal counts keep file order.
EntryList bestByBruteForce(EntryList entries, std::size_t k) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    entries.resize(std::min(k, entries.size()));
    return entries;
}

EntryList asList(const std::vector<RankedEntry>& ranked) {
    EntryList list;
    for (const RankedEntry& entry : ranked) list.emplace_back(entry.text, entry.count);
    return list;
}

TEST(TopEntries, AreTheBestByBruteForceForAnyNumberOfPieces) {
    TempDir dir;
    EntryList entries = awkwardEntries(2'000, 7);
    writeFile(dir.path("counts"), writtenEntries(entries));
    for (std::size_t k : {1, 3, 50, 1'999, 2'000, 5'000}) {
        EntryList expected = bestByBruteForce(entries, k);
        for (std::size_t pieces : {1, 2, 3, 7})
            EXPECT_EQ(asList(topEntries(dir.path("counts"), static_cast<std::int64_t>(k), pieces)), expected)
                << "K " << k << ", " << pieces << " pieces";
    }
}

TEST(TopEntries, EqualCountsComeInFileOrder) {
    TempDir dir;
    EntryList entries{{"a", 2}, {"b", 5}, {"c", 2}, {"d", 5}, {"e", 2}, {"f", 1}};
    writeFile(dir.path("counts"), writtenEntries(entries));
    for (std::size_t pieces : {1, 2, 4})
        EXPECT_EQ(asList(topEntries(dir.path("counts"), 4, pieces)),
                  (EntryList{{"b", 5}, {"d", 5}, {"a", 2}, {"c", 2}}));
}

// Every text of the file, and texts between, before and after them, for
// any size of the last scan (1 byte: halved all the way down) and of the
// window the file is read through.
TEST(SearchCount, FindsEveryCountAndZeroForAbsentTexts) {
    TempDir dir;
    EntryList entries = awkwardEntries(1'500, 8);
    writeFile(dir.path("counts"), writtenEntries(entries));
    const std::pair<std::int64_t, std::int64_t> scansAndWindows[] = {
        {1, 7},
        {200, 7},
        {1, EntryLocator::DefaultWindowBytes},
        {ScanBytes, EntryLocator::DefaultWindowBytes}};
    for (auto [scanBytes, window] : scansAndWindows) {
        EntryLocator file(dir.path("counts"), window);
        for (const auto& [text, count] : entries) {
            ASSERT_EQ(searchCount(file, text, scanBytes), count) << scanBytes << " " << text;
            EXPECT_EQ(searchCount(file, text + '\x01', scanBytes), 0) << text;
        }
        EXPECT_EQ(searchCount(file, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", scanBytes), 0);
    }
}

// A file that is not sorted: each search gives the true count or says the
// file is not in order; only a search for an entry far from its place may
// miss it.
TEST(SearchCount, AFileOutOfOrderIsAnErrorNotAWrongCount) {
    EntryList entries = awkwardEntries(3'000, 9);
    struct Case {
        const char* what;
        std::size_t moved, to;  // entry `moved` written just before entry `to`
    };
    for (const Case& c : {Case{"two neighbours swapped", 1'500, 1'499},
                          Case{"one far out of place", 2'900, 100}, Case{"a text twice", 1'000, 1'000}}) {
        EntryList shuffled = entries;
        shuffled.insert(shuffled.begin() + static_cast<std::ptrdiff_t>(c.to), entries[c.moved]);
        if (c.moved != c.to)
            shuffled.erase(shuffled.begin() + static_cast<std::ptrdiff_t>(c.moved + (c.moved > c.to)));
        TempDir dir;
        writeFile(dir.path("counts"), writtenEntries(shuffled));
        EntryLocator file(dir.path("counts"));
        std::size_t refused = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            try {
                std::int64_t count = searchCount(file, entries[i].first, 200);
                if (c.moved - c.to < 2 || i != c.moved) {
                    EXPECT_EQ(count, entries[i].second) << c.what << ": " << i;
                }
            } catch (const IoError& error) {
                EXPECT_EQ(std::string(error.what()).rfind("not in order: ", 0), 0u) << error.what();
                ++refused;
            }
        }
        EXPECT_GT(refused, 0u) << c.what;
    }
}

}  // namespace
