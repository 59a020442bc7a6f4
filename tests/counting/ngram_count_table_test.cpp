#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <functional>
#include <map>
#include <random>

#include "common/file_io.h"
#include "tests/counting/table_contents.h"
#include "tests/support/run_program.h"
#include "tests/support/table_for_tests.h"

namespace {

// The count file of the table as it stands.
std::string writtenCountFile(NGramCountTable& table) {
    TempDir dir;
    table.writeCountFile(dir.path("counts"));
    return readFile(dir.path("counts"));
}

// Bytes 1 to 255, CR, LF, ';' and high bytes included: texts hold no NUL.
std::string randomText(std::mt19937_64& random, std::size_t length) {
    std::string text;
    while (text.size() < length) text += static_cast<char>(random() % 255 + 1);
    return text;
}

std::string writtenAfterCounting(const std::vector<std::string>& texts) {
    NGramCountTable table(NoLimits);
    for (const auto& text : texts) table.addNGram(text);
    return writtenCountFile(table);
}

TEST(CountFile, AnEmptyTableGivesAnEmptyFile) { EXPECT_EQ(writtenAfterCounting({}), ""); }

TEST(CountFile, TextsThatDifferInOneByteStayApart) {
    NGramCountTable table(NoLimits);
    for (const char* text : {"The", "the", "the", "caf\xE9", "caf\xC9", "caf\xE9"}) table.addNGram(text);
    Counts expected{{"The", 1}, {"the", 2}, {"caf\xE9", 2}, {"caf\xC9", 1}};
    EXPECT_EQ(tableContents(table), expected);
    EXPECT_EQ(writtenCountFile(table), countFileOf(expected));
}

TEST(CountFile, ReplacesAnExistingFile) {
    TempDir dir;
    writeFile(dir.path("counts"), "old contents that are longer than the new ones");
    NGramCountTable table(NoLimits);
    table.addNGram("x");
    table.writeCountFile(dir.path("counts"));
    EXPECT_EQ(readFile(dir.path("counts")), "x;1\r\n");
}

TEST(CountFile, FailuresToCreateOrWriteAreRaised) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("a directory"));
    NGramCountTable table(NoLimits);
    table.addNGram("x");
    for (std::string path : {dir.path("missing/counts"), dir.path("a directory"), std::string("/dev/full")}) {
        try {
            table.writeCountFile(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, path);
            EXPECT_STRNE(error.what(), "");
        }
    }
}

TEST(CountTable, CountsTextsOfEveryLengthUpTo40) {
    // Each length once with low bytes, once with high bytes, and once more
    // differing from the first only in its last byte.
    NGramCountTable table(NoLimits);
    Counts expected;
    for (std::size_t length = 0; length <= 40; ++length) {
        std::string low, high;
        for (std::size_t i = 0; i < length; ++i) {
            low += static_cast<char>('a' + (i * 7 + length) % 26);
            high += static_cast<char>(0x80 + (i * 13 + length) % 128);
        }
        std::string lastByteDiffers = low;
        if (length > 0) lastByteDiffers.back() = 'Z';
        const std::pair<std::string, std::int64_t> cases[] = {
            {low, 1 + static_cast<std::int64_t>(length % 3)}, {high, 2}, {lastByteDiffers, 5}};
        for (const auto& [text, times] : cases) {
            for (std::int64_t i = 0; i < times; ++i) table.addNGram(text);
            expected[text] += times;
        }
    }
    EXPECT_EQ(tableContents(table), expected);
    EXPECT_EQ(writtenCountFile(table), countFileOf(expected));
}

TEST(CountTable, KeepsLongTextsOfAnyLengthApart) {
    NGramCountTable table(NoLimits);
    Counts expected;
    for (std::size_t length : {127, 128, 129, 300, 16383, 16384, 100'000}) {
        std::string text(length, 'x');
        text[length / 2] = '\xE9';
        std::string other = text;
        other.back() = 'y';
        for (const std::string& each : {text, text, other}) {
            table.addNGram(each);
            ++expected[each];
        }
    }
    EXPECT_EQ(tableContents(table), expected);
    EXPECT_EQ(writtenCountFile(table), countFileOf(expected));
}

TEST(CountTable, TellsLongTextsApartWhoseStoredHashBitsMatch) {
    // A slot keeps only the top 24 bits of a long text's hash; find two
    // texts that share them and their home slot in a table of 16.
    NGramCountTable table(NoLimits);
    std::map<std::uint64_t, std::string> seen;
    std::string first, second;
    for (int i = 0; first.empty(); ++i) {
        std::string text = "long text number " + std::to_string(i);
        std::uint64_t hash = hashNGramText(table, text);
        auto [entry, inserted] = seen.emplace((hash >> 40) << 4 | (hash & 15), text);
        if (!inserted) first = entry->second, second = text;
    }
    table.addNGram(first);
    table.addNGram(second);
    table.addNGram(second);
    EXPECT_EQ(tableContents(table), (Counts{{first, 1}, {second, 2}}));
}

TEST(CountTable, KeepsExactCountsThroughManyDoublings) {
    // 150,000 distinct texts of 1 to 24 bytes, each added 1 to 4 times in a
    // shuffled order, through all four ways into the table.
    std::mt19937_64 random(7);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < 150'000; ++i) texts.push_back(randomText(random, 1 + random() % 24));
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < texts.size(); ++i)
        for (std::size_t times = 1 + i % 4; times > 0; --times) order.push_back(i);
    std::shuffle(order.begin(), order.end(), random);

    NGramCountTable table(NoLimits);
    Counts expected;
    std::vector<std::string_view> run;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::string& text = texts[order[k]];
        ++expected[text];
        if (k % 2 == 0)
            table.addNGram(text);
        else
            run.push_back(text);
        if (run.size() == 1000) {
            table.addNGrams(run.data(), run.size());
            run.clear();
        }
    }
    table.addNGrams(run.data(), run.size());
    EXPECT_EQ(tableContents(table), expected);
    EXPECT_EQ(writtenCountFile(table), countFileOf(expected));
}

TEST(CountTable, SmallTablesGrowCorrectlyWhateverTheirLayout) {
    // Many tables through their first doublings, where runs of taken slots
    // often wrap around the end of the array.
    std::mt19937_64 random(11);
    for (int round = 0; round < 300; ++round) {
        NGramCountTable table(NoLimits);
        Counts expected;
        std::size_t distinct = 5 + random() % 120;
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < distinct; ++i)
            texts.push_back(randomText(random, 1 + random() % (round % 2 ? 8 : 14)));
        for (std::size_t k = 0; k < 3 * distinct; ++k) {
            const std::string& text = texts[random() % distinct];
            table.addNGram(text);
            ++expected[text];
        }
        ASSERT_EQ(tableContents(table), expected) << "table " << round;
    }
}

TEST(CountTable, ShortTextsMatchTheirTexts) {
    // Texts of up to 8 bytes live as packed keys: the empty text, high bytes
    // and a full word must come back as they went in.
    NGramCountTable table(NoLimits);
    const std::string_view texts[] = {"ab", "", "\xFF\x80", "ab", "12345678", "\xFF\x80"};
    table.addNGrams(texts, std::size(texts));
    table.addNGram("12345678");
    EXPECT_EQ(tableContents(table), (Counts{{"ab", 2}, {"", 1}, {"\xFF\x80", 2}, {"12345678", 2}}));
    EXPECT_EQ(writtenCountFile(table), countFileOf(tableContents(table)));
}

TEST(CountTable, ListsTextsSharingLongBeginningsInOrder) {
    // Groups of long texts that share their first 11, 22 or 33 bytes (where
    // the sort's keys end), with texts that end there and high bytes; read
    // twice and then counted into again.
    std::mt19937_64 random(5);
    std::vector<std::string> texts;
    for (std::size_t shared : {11, 17, 22, 30, 33, 45}) {
        std::string start = randomText(random, shared);
        for (std::size_t i = 0; i < 40; ++i)
            texts.push_back(start + randomText(random, i % 5 == 0 ? 0 : i % 14));
        texts.push_back(start.substr(0, 17));
    }
    auto unsignedLess = [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        });
    };
    NGramCountTable table(NoLimits);
    Counts expected;
    for (int round = 0; round < 2; ++round) {
        for (const std::string& text : texts) {
            table.addNGram(text);
            ++expected[text];
        }
        for (int read = 0; read < 2; ++read) {
            std::vector<std::string> listed;
            Counts seen;
            forEachNGram(table, [&](std::string_view text, std::int64_t count) {
                listed.emplace_back(text);
                seen[listed.back()] = count;
            });
            EXPECT_EQ(seen, expected) << "round " << round;
            for (std::size_t i = 1; i < listed.size(); ++i)
                ASSERT_TRUE(unsignedLess(listed[i - 1], listed[i])) << "round " << round << ", entry " << i;
        }
    }
}

TEST(HostileInput, TextFamiliesThatFoolWeakHashesSitNoFartherFromHomeThanRandomTexts) {
    // Each family is built without the key, from bytes that a weak hash
    // loses: the top bit of a word (lost to xor-then-multiply), bytes read
    // twice by overlapping loads, equal blocks, dense numbers.
    constexpr std::size_t Count = 20'000;
    auto withTopBits = [](std::string text, std::size_t step, std::size_t bits) {
        for (std::size_t k = 0; bits != 0; ++k, bits >>= 1)
            if (bits & 1) text[k * step + step - 1] |= '\x80';
        return text;
    };
    auto varied = [](std::string text, std::size_t at, std::size_t i) {
        for (std::size_t k = 0; k < 3; ++k, i /= 255) text[at + k] = static_cast<char>(i % 255 + 1);
        return text;
    };
    struct Family {
        const char* what;
        std::function<std::string(std::size_t i)> text;
    };
    const Family families[] = {
        {"long, an even number of 8-byte blocks with their top bit flipped",
         [&](std::size_t i) { return withTopBits(std::string(136, 'a'), 8, i << 1 | std::popcount(i) % 2); }},
        {"long, differing in the bytes the last load overlaps",
         [&](std::size_t i) { return varied(std::string(21, 'a'), 13, i); }},
        {"long, equal blocks at different lengths",
         [](std::size_t i) {
             std::string text(17 + i % 97, 'x');
             text[i / 97 % text.size()] = static_cast<char>('a' + i / 97 / text.size());
             return text;
         }},
        {"medium, top bits flipped", [&](std::size_t i) { return withTopBits(std::string(16, 'a'), 1, i); }},
        {"medium, differing where the packing's loads overlap",
         [&](std::size_t i) { return varied(std::string(13, 'a'), 9, i); }},
        {"short, decimal numbers", [](std::size_t i) { return std::to_string(10'000'000 + i); }},
        {"short, differing where the packing's loads overlap",
         [&](std::size_t i) { return varied(std::string(6, 'a'), 2, i); }},
    };
    std::mt19937_64 random(3);
    for (const auto& [what, text] : families) {
        auto probeDistance = [&](auto&& textAt) {
            NGramCountTable table(NoLimits);
            setHashSeed(table, 17);
            for (std::size_t i = 0; i < Count; ++i) table.addNGram(textAt(i));
            std::uint64_t distance = totalProbeDistance(table);
            EXPECT_EQ(distinctNGrams(table), static_cast<std::int64_t>(Count)) << what;
            return distance;
        };
        std::uint64_t ofRandomTexts =
            probeDistance([&](std::size_t i) { return randomText(random, text(i).size()); });
        EXPECT_LT(probeDistance(text), 3 * ofRandomTexts + Count) << what;
    }
}

TEST(CountTable, ListsTextsSharingHundredsOfKilobytesInOrder) {
    // The n-grams of one word repeated thousands of times: nine texts that
    // tie for 400,000 bytes, one of them ending there. Sorting them once
    // went one call deeper for every 11 bytes they share.
    const std::pair<const char*, std::string> shared[] = {
        {"one byte repeated", std::string(400'000, 'x')},
        {"a word repeated",
         [] {
             std::string words;
             while (words.size() < 400'000) words += "abcdefghijklmnopq ";
             return words;
         }()},
    };
    for (const auto& [what, start] : shared) {
        NGramCountTable table(NoLimits);
        Counts expected;
        for (const char* end : {"", "\xE9", "a", "ab", "b", "ba", "\xFF\x01", "a ", "zz"}) {
            std::string text = start + end;
            for (int times = 0; times < 1 + static_cast<int>(text.size() % 3); ++times) table.addNGram(text);
            expected[text] += 1 + static_cast<int>(text.size() % 3);
        }
        EXPECT_EQ(writtenCountFile(table), countFileOf(expected)) << what;
    }
}

// Nothing of a count is shared with another in the same process.
TEST(CountTable, TwoTablesCountApart) {
    NGramCountTable one(NoLimits), other(NoLimits);
    one.addNGram("");
    one.addNGram("a text longer than eight bytes");
    other.addNGram("a text longer than eight bytes");
    other.addNGram("a text longer than eight bytes");
    EXPECT_EQ(tableContents(one), (Counts{{"", 1}, {"a text longer than eight bytes", 1}}));
    EXPECT_EQ(tableContents(other), (Counts{{"a text longer than eight bytes", 2}}));
    NGramCountTable empty(NoLimits);
    EXPECT_EQ(tableContents(empty), Counts{});
}

}  // namespace
