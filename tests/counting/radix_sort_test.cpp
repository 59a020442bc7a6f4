// The radix sort against std::sort: the same order of keys, the same
// records, for every kind of input and however little scratch it is given
// (less scratch than a bucket means partitioning in place).
#include "counting/radix_sort.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

#include "counting/big_endian_key.h"

namespace {

// A key of two words and the record's place in the input, which the sort
// carries along but does not order by.
struct Record {
    std::uint64_t words[2];
    std::uint32_t id;
};
const std::uint64_t* wordsOf(const Record& r) { return r.words; }
using Order = BigEndianOrder<Record, 2, wordsOf>;

auto keyOf(const Record& r) { return std::tie(r.words[0], r.words[1]); }
auto keyAndId(const Record& r) { return std::tie(r.words[0], r.words[1], r.id); }

// `count` records of one kind of keys: buckets of every size, keys equal
// but for their last byte, keys all equal, keys in order and reversed.
std::vector<Record> records(const char* kind, std::size_t count, std::mt19937_64& random) {
    std::vector<Record> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        Record& r = out[i];
        std::string_view k = kind;
        if (k == "random") {
            r.words[0] = random(), r.words[1] = random();
        } else if (k == "few bytes") {  // deep buckets: the first byte shared, 3 values for each other
            r.words[0] = std::uint64_t{'x'} << 56, r.words[1] = 0;
            for (int b = 1; b < 16; ++b) r.words[b / 8] |= std::uint64_t{random() % 3} << (56 - 8 * (b % 8));
        } else if (k == "last byte only") {
            r.words[0] = 0x6162636465666768u, r.words[1] = 0x6162636465666700u | (random() % 200);
        } else if (k == "equal") {
            r.words[0] = 0x7878787878787878u, r.words[1] = 42;
        } else if (k == "ascending") {
            r.words[0] = i / 256, r.words[1] = i;
        } else {  // descending
            r.words[0] = ~(i / 256), r.words[1] = ~std::uint64_t{i};
        }
        r.id = static_cast<std::uint32_t>(i);
    }
    return out;
}

TEST(RadixSort, SortsAsStdSortWhateverTheInputAndScratch) {
    std::mt19937_64 random(7);
    for (const char* kind : {"random", "few bytes", "last byte only", "equal", "ascending", "descending"})
        for (std::size_t count : {0, 1, 2, 95, 96, 97, 1000, 300'000})
            for (std::size_t scratchShare : {0, 1, 5}) {  // none, all, a fifth
                std::vector<Record> input = records(kind, count, random), sorted = input;
                std::size_t scratchCount = scratchShare == 0 ? 0 : count / scratchShare;
                std::vector<Record> scratch(scratchCount);
                radixSort(sorted.data(), count, scratch.data(), scratchCount, Order{});
                std::vector<Record> expected = input;
                std::stable_sort(expected.begin(), expected.end(),
                                 [](const Record& a, const Record& b) { return keyOf(a) < keyOf(b); });
                bool sameKeys =
                    std::equal(sorted.begin(), sorted.end(), expected.begin(), expected.end(),
                               [](const Record& a, const Record& b) { return keyOf(a) == keyOf(b); });
                // Equal keys may come in any order, but every record once.
                auto byKeyAndId = [](const Record& a, const Record& b) { return keyAndId(a) < keyAndId(b); };
                std::vector<Record> records = sorted;
                std::sort(records.begin(), records.end(), byKeyAndId);
                bool sameRecords =
                    std::equal(records.begin(), records.end(), expected.begin(), expected.end(),
                               [](const Record& a, const Record& b) { return a.id == b.id; });
                EXPECT_TRUE(sameKeys && sameRecords)
                    << kind << ", " << count << " records, scratch " << scratchCount;
            }
}

// The caller may promise leading bytes that all keys share; the sort then
// starts past them.
TEST(RadixSort, StartsPastTheSharedBytes) {
    std::mt19937_64 random(3);
    std::vector<Record> input = records("few bytes", 5000, random);
    for (Record& r : input) r.words[0] = 0x4142000000000000u | (r.words[0] & 0xFFFFFFFFFFFFu);
    std::vector<Record> sorted = input, scratch(1000);
    radixSort(sorted.data(), sorted.size(), scratch.data(), scratch.size(), Order{}, 2);
    EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(),
                               [](const Record& a, const Record& b) { return keyOf(a) < keyOf(b); }));
}

}  // namespace
