// The run store of one count: whatever goes to disk and however few runs a
// merge may open, the runs sum to the counts that went in; disk runs stay
// within the merge width and a few times one run's bytes, and leave no file.
#include "runs/run_store.h"

#include <gtest/gtest.h>

#include "runs/count_merge.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

class TableSource final : public CountSource {
public:
    explicit TableSource(const Counts& table) : at_(table.begin()), end_(table.end()) {}
    bool next() override {
        if (at_ == end_) return false;
        text_ = at_->first;
        count_ = (at_++)->second;
        return true;
    }

private:
    Counts::const_iterator at_, end_;
};

std::int64_t runBytesBound(const Counts& table) {
    std::int64_t bytes = 0;
    for (const auto& [text, count] : table) bytes += static_cast<std::int64_t>(text.size()) + 30;
    return bytes;
}

std::size_t openDescriptors() { return filesIn("/proc/self/fd").size(); }

TEST(RunStore, RunsSumToTheCountsWhateverSpillsAndTheMergeWidth) {
    const std::string alphabet("ab\n\r;\x80\xFF", 7);
    std::vector<Counts> ownTexts, sameTexts(30, everyWindow(randomBytes(alphabet, 20'000, 1), 6));
    for (unsigned i = 0; i < 30; ++i)
        ownTexts.push_back(everyWindow(randomBytes(alphabet, 20'000, i), 1 + i % 7));
    struct Case {
        const char* what;
        std::int64_t budget;
        std::size_t maxMergeWidth;
        const std::vector<Counts>& tables;
        bool spills;
    };
    const Case cases[] = {
        {"in memory", std::int64_t{1} << 30, 64, ownTexts, false},
        {"memory runs compacted", std::int64_t{1} << 30, 4, ownTexts, false},
        {"spilled, width 64", 0, 64, ownTexts, true},
        {"spilled, width 2", 0, 2, ownTexts, true},
        {"spilled, width 3", 0, 3, ownTexts, true},
        {"spilled, width 4", 0, 4, sameTexts, true},
        {"spilled, the same texts again and again", 0, 64, sameTexts, true},
    };
    for (const Case& c : cases) {
        Counts sum;
        for (const Counts& table : c.tables)
            for (const auto& [text, count] : table) sum[text] += count;
        for (std::size_t others : {0, 1}) {
            std::string what = std::string(c.what) + ", " + std::to_string(others) + " other sources";
            TempDir dir;
            std::size_t descriptorsBefore = openDescriptors();
            std::size_t mostDescriptors = descriptorsBefore;
            {
                RunStore store;
                store.configure({c.budget, dir.path(""), c.maxMergeWidth});
                for (const Counts& table : c.tables) {
                    TableSource source(table);
                    store.addRun(source, runBytesBound(table));
                    mostDescriptors = std::max(mostDescriptors, openDescriptors());
                }
                store.mergeDownTo(others);
                std::vector<std::unique_ptr<CountSource>> readers;
                store.openAll(readers);
                EXPECT_LE(readers.size() + others, std::max<std::size_t>(c.maxMergeWidth, 2)) << what;
                std::vector<CountSource*> sources;
                for (auto& reader : readers) sources.push_back(reader.get());
                Counts merged;
                mergeCounts(sources,
                            [&](std::string_view text, std::int64_t count) { merged.emplace(text, count); });
                EXPECT_TRUE(merged == sum) << what;

                CountingStatistics statistics = store.statistics();
                EXPECT_EQ(statistics.runsSpilled > 0, c.spills) << what;
                EXPECT_EQ(statistics.temporaryBytesPeak > 0, c.spills) << what;
                // The disk runs are merged as they pile up: a few times the
                // largest, not one per run of texts seen before.
                ::Run all(dir.path(""));
                RunWriter writer(all);
                for (const auto& [text, count] : sum) writer.add(text, count);
                writer.finish();
                EXPECT_LE(statistics.temporaryBytesPeak, 4 * all.size()) << what;
                EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{}) << what << ": a file was left";
            }
            // Between merges a disk run holds a descriptor, fewer than a
            // merge opens.
            EXPECT_LE(mostDescriptors, descriptorsBefore + std::max<std::size_t>(c.maxMergeWidth, 3) - 2)
                << what;
            EXPECT_EQ(openDescriptors(), descriptorsBefore) << what << ": a descriptor was left open";
        }
    }
}

}  // namespace
