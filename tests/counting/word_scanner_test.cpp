#include "counting/word_scanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <vector>

#include "tests/counting/word_texts.h"

namespace {

using namespace word_texts;

// ---- The word scanner ------------------------------------------------------

TEST(ExtractWord, DeliversTheWordAfterTheFirstSeparator) {
    struct Case {
        std::string bytes;  // from the start position on
        std::optional<std::string> word;
        std::int32_t offset;  // of the result from the start position
    };
    const Case cases[] = {
        {"the cat sat", "cat", 7},
        {" cat sat", "cat", 4},
        {"  cat sat", "cat", 5},
        {"   cat sat", "", 2},
        {", cat sat", "cat", 5},
        {"?!cat sat", "cat", 5},
        {"cat. Dog ran", "Dog", 8},
        {"end.\r\nNext line", "\r\nNext", 10},
        {" one\ntwo three", "one\ntwo", 8},
        {" it's 42 x", "it's", 5},
        {" 42, x", "42", 3},
        {" a.b c", "a", 2},
        {" caf\xE9 x", "caf\xE9", 5},
        {" a\0b c"s, "a", 4},
        {" "s + letters(17) + " ", letters(17), 18},
        {" "s + letters(18) + " ", std::nullopt, 0},
        {" "s + letters(25) + " ", std::nullopt, 0},
        {"  "s + letters(16) + " ", letters(16), 18},
        {"  "s + letters(17) + " ", std::nullopt, 0},
        {"x "s + letters(16) + " ", letters(16), 18},
        {"x "s + letters(17) + " ", std::nullopt, 0},
        {letters(20), std::nullopt, 0},
        {letters(19) + " a ", std::nullopt, 0},
        {letters(30) + " a ", std::nullopt, 0},
        {"...anything", "", 2},
        {". . x", "", 2},
    };
    const std::string before = "xy ";  // the start position is not the chunk's first byte
    const auto start = static_cast<std::int32_t>(before.size());
    for (const auto& c : cases) {
        std::string bytes = before + c.bytes;
        if (bytes.size() < before.size() + WordScanLimit) bytes.resize(before.size() + WordScanLimit, 'z');
        ExactBuffer chunk(bytes);
        Word word;
        std::int32_t result = extractWord(chunk.data(), start, word);
        if (c.word) {
            EXPECT_EQ(result, start + c.offset) << c.bytes;
            EXPECT_EQ(word.text(), *c.word) << c.bytes;
        } else {
            EXPECT_EQ(result, 0) << c.bytes;
        }
    }
}

TEST(IsSeparator, OnlyFiveBytesSeparateWords) {
    for (int byte = 0; byte < 256; ++byte) {
        bool expected = byte == ' ' || byte == '!' || byte == ',' || byte == '.' || byte == '?';
        EXPECT_EQ(isSeparator(static_cast<unsigned char>(byte)), expected) << byte;
    }
}

// Both fast forms of the scanner against the plain one, from every start:
// WordFinder also a little way back, outside the bytes it classified last.
TEST(FindWord, FindsWhatExtractWordFindsFromEveryStart) {
    std::mt19937 random(2024);
    for (int round = 0; round < 300; ++round) {
        ExactBuffer chunk(randomChunk(random, WordScanLimit + random() % 300));
        WordFinder finder(chunk.data(), chunk.size());
        auto expectSameWord = [&](std::int32_t start) {
            Word expected;
            std::int32_t result = extractWord(chunk.data(), start, expected);
            WordPlace found, foundByFinder;
            EXPECT_EQ(findWord(chunk.data(), start, found), result) << "round " << round << " at " << start;
            EXPECT_EQ(finder.find(start, foundByFinder), result) << "round " << round << " at " << start;
            if (result == 0) return;
            for (const WordPlace& place : {found, foundByFinder})
                EXPECT_EQ(
                    std::string_view(chunk.data() + place.offset, static_cast<std::size_t>(place.length)),
                    expected.text())
                    << "round " << round << " at " << start;
        };
        for (std::int32_t start = 0; start + WordScanLimit <= chunk.size(); ++start) {
            expectSameWord(start);
            expectSameWord(std::max<std::int32_t>(0, start - static_cast<std::int32_t>(random() % 80)));
        }
    }
}

}  // namespace
