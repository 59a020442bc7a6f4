#include "runs/piecewise_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "formats/record_codec.h"
#include "runs/run_format.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::int64_t>>;

class EntriesSource final : public CountSource {
public:
    EntriesSource(const Entries& entries, std::size_t from, std::size_t to)
        : entries_(entries), at_(from), to_(to) {}
    bool next() override {
        if (at_ == to_) return false;
        text_ = entries_[at_].first;
        count_ = entries_[at_++].second;
        return true;
    }

private:
    const Entries& entries_;
    std::size_t at_, to_;
};

// The entries cut at the given indexes (repeated cuts make empty pieces).
class CutEntries final : public PiecewiseSource {
public:
    CutEntries(const Entries& entries, std::vector<std::size_t> cuts)
        : entries_(entries), cuts_(std::move(cuts)) {
        cuts_.insert(cuts_.begin(), 0);
        cuts_.push_back(entries.size());
    }
    std::size_t pieces() const override { return cuts_.size() - 1; }
    std::unique_ptr<CountSource> piece(std::size_t index) const override {
        return std::make_unique<EntriesSource>(entries_, cuts_[index], cuts_[index + 1]);
    }
    std::int64_t largestPieceBytes(std::size_t index) const override {
        std::int64_t bytes = 0;
        for (std::size_t i = cuts_[index]; i < cuts_[index + 1]; ++i)
            bytes += static_cast<std::int64_t>(mostRecordBytes(entries_[i].first.size(), 1));
        return bytes;
    }

private:
    const Entries& entries_;
    std::vector<std::size_t> cuts_;
};

// Written by 1, 2, 3 and 7 threads, in memory and in a file, a run in
// pieces reads back as the list, also from any text its checkpoints lead
// to; its checkpoints stay as few as a writer's.
TEST(PiecewiseRun, ReadsBackAsTheListWhateverThePiecesAndThreads) {
    Entries entries;
    for (int i = 0; i < 60'000; ++i) entries.emplace_back("key" + std::to_string(i * 7), i % 5 + 1);
    std::sort(entries.begin(), entries.end());
    std::vector<std::size_t> many;
    for (std::size_t cut = 0; cut < entries.size(); cut += 997) many.push_back(cut);
    struct Row {
        const char* what;
        std::vector<std::size_t> cuts;
    } rows[] = {{"one piece", {}},
                {"empty pieces first, between and last", {0, 0, 30'000, 30'000, 60'000}},
                {"a piece of one entry", {100, 101}},
                {"many pieces", many}};
    TempDir dir;
    BlockPool pool;
    for (const Row& row : rows) {
        CutEntries source(entries, row.cuts);
        for (int threads : {1, 2, 3, 7}) {
            for (bool onDisk : {false, true}) {
                std::string what = std::string(row.what) + ", threads " + std::to_string(threads) +
                                   (onDisk ? ", in a file" : ", in memory");
                ::Run run = onDisk ? ::Run(dir.path("")) : ::Run(pool, 1 << 12);
                writePieces(run, source, threads);
                run.finish();
                ASSERT_EQ(run.entries, static_cast<std::int64_t>(entries.size())) << what;
                ASSERT_LE(run.checkpoints.size(), 2 * RunWriter::MostCheckpoints) << what;
                for (const std::string& from : {std::string(), entries[29'999].first, entries[30'000].first,
                                                std::string("key5"), std::string("kez")}) {
                    RunReader reader(run, 100);
                    reader.skipTowards(from);
                    Entries tail;
                    while (reader.next())
                        if (reader.text() >= from) tail.emplace_back(reader.text(), reader.count());
                    auto first = std::lower_bound(entries.begin(), entries.end(),
                                                  std::make_pair(from, std::int64_t{0}));
                    EXPECT_TRUE(tail == Entries(first, entries.end())) << what << ", from " << from;
                }
            }
        }
        EXPECT_GE(largestRunBytes(source, 3), source.largestPieceBytes(0)) << row.what;
    }
}

}  // namespace
