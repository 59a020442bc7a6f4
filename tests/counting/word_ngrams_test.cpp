#include "counting/word_ngrams.h"

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

// ---- The n-gram builder ----------------------------------------------------

TEST(BuildWordNGram, JoinsTheFollowingWordsWithSpaces) {
    struct Case {
        std::string bytes;
        std::int32_t start;
        std::int32_t n;
        std::optional<std::string> text;  // none: the argument is left unchanged
        std::int32_t result;
    };
    const Case cases[] = {
        {"the cat sat on a mat", 0, 2, "cat sat", 7},
        {"the cat sat on a mat", 7, 3, "sat on a", 11},
        {"one, two. three four five", 0, 3, "two three four", 8},
        {"Wait... what now ok", 0, 2, " what", 6},
        {"Wait... what now ok", 0, 3, " what now", 6},
        {"a  b   c d e", 0, 3, "b  c", 4},
        {"ab cd "s + letters(20) + " ef gh", 0, 2, "cd", 5},
        {letters(30) + " a b c", 0, 2, std::nullopt, 0},
        {"the cat sat", 0, 1, "cat", 7},
        {"x a... b", 0, 2, "a ", 3},
        // Once a later word fails, the words after it are left out too.
        {" a "s + letters(18) + " b c d", 0, 3, "a", 2},
        {" a b "s + letters(18) + " c d", 0, 4, "a b", 2},
        {" a  "s + letters(17) + " b c", 0, 3, "a", 2},  // one byte on, the word would fit
    };
    for (const auto& c : cases) {
        ExactBuffer chunk(c.bytes + std::string(40, 'z'));
        std::string text = "unchanged";
        std::int32_t result = buildWordNGram(chunk.data(), c.start, c.n, text);
        EXPECT_EQ(result, c.result) << c.bytes << " N " << c.n;
        EXPECT_EQ(text, c.text.value_or("unchanged")) << c.bytes << " N " << c.n;
    }
}

// ---- The chunk scan --------------------------------------------------------

const std::string WorkedExample =
    "The cat sat on the mat. The dog ran away... Then it rained!\r\nNobody came back, at all. "
    "That is the end of it.";

TEST(ScanWordChunk, WorkedExampleCountsTheseTextsInThisOrder) {
    ASSERT_EQ(WorkedExample.size(), 109u);
    struct Case {
        std::int32_t n;
        Texts texts;
        std::string dots;
    };
    const Case cases[] = {
        {1,
         {"cat", "sat", "on", "the", "mat", "The", "dog", "ran", "away", "", "Then", "it", "rained",
          "\r\nNobody", "came", "back", "at", "all"},
         "."},
        {2,
         {"cat sat", "sat on", "on the", "the mat", "mat The", "The dog", "dog ran", "ran away", "away ",
          " Then", "Then it", "it rained", "rained \r\nNobody", "\r\nNobody came"},
         ""},
        {3,
         {"cat sat on", "sat on the", "on the mat", "the mat The", "mat The dog", "The dog ran",
          "dog ran away", "ran away "},
         ""},
    };
    for (const auto& c : cases) {
        std::string dots;
        EXPECT_EQ(scanTexts(WorkedExample, c.n, &dots), c.texts) << "N " << c.n;
        EXPECT_EQ(dots, c.dots) << "N " << c.n;
        EXPECT_EQ(countedByScanWordChunk(WorkedExample, c.n), tally(c.texts)) << "N " << c.n;
    }
}

// " a b c d ...": one-letter words, each two bytes after the last.
std::string shortWords(std::int64_t length) {
    std::string text;
    for (std::int64_t i = 0; i < length; ++i) text += i % 2 == 0 ? ' ' : static_cast<char>('a' + i / 2 % 26);
    return text;
}

TEST(ScanWordChunk, NoNGramStartsWithinNTimes25BytesOfTheEnd) {
    struct Case {
        std::int32_t n;
        std::int64_t length;
        Texts texts;
    };
    const Case cases[] = {
        {1, 0, {}},
        {1, 25, {}},
        {1, 26, {"a"}},
        {1, 27, {"a"}},
        {1, 28, {"a", "b"}},
        {2, 50, {}},
        {2, 51, {"a b"}},
        {3, 75, {}},
        {3, 76, {"a b c"}},
        {4, 100, {}},
        {4, 101, {"a b c d"}},
        {5, 125, {}},
        {5, 126, {"a b c d e"}},
        {6, 150, {}},
        {6, 151, {"a b c d e f"}},
        {6, 153, {"a b c d e f", "b c d e f g"}},
    };
    for (const auto& c : cases) EXPECT_EQ(scanTexts(shortWords(c.length), c.n), c.texts) << c.length;
}

TEST(ScanWordChunk, WordBytesAndWordLengths) {
    struct Case {
        const char* what;
        std::string bytes;
        Counts counts;
    };
    const Case cases[] = {
        {"a 17-byte word is counted", " x " + letters(17) + " y ", {{"x", 1}, {letters(17), 1}, {"y", 1}}},
        {"an 18-byte word is not, the next one is", " x " + letters(18) + " y ", {{"x", 1}, {"y", 1}}},
        {"a 25-byte word is not, the next one is", " x " + letters(25) + " y ", {{"x", 1}, {"y", 1}}},
        {"CR LF inside a word", " one\r\ntwo three ", {{"one\r\ntwo", 1}, {"three", 1}}},
        {"a line end after a full stop begins a word",
         " end.\r\nNobody came ",
         {{"end", 1}, {"\r\nNobody", 1}, {"came", 1}}},
        {"NUL cuts a word", " a\0b c "s, {{"a", 1}, {"c", 1}}},
        {"The and the kept apart", " The the THE the ", {{"The", 1}, {"the", 2}, {"THE", 1}}},
        {"high bytes, TAB and digits are word bytes", " caf\xE9 \t42 ", {{"caf\xE9", 1}, {"\t42", 1}}},
        {"a decimal point splits", " 3.14 ", {{"3", 1}, {"14", 1}}},
        {"the chunk's first word needs a separator before it", "first second ", {{"second", 1}}},
        {"a chunk that begins with a separator counts its first word",
         " first second ",
         {{"first", 1}, {"second", 1}}},
    };
    // Word bytes after the text: nothing there is delivered, and the bound
    // lies beyond the text.
    const std::string tail(30, '-');
    for (const auto& c : cases) EXPECT_EQ(countedByScanWordChunk(c.bytes + tail, 1), c.counts) << c.what;
}

TEST(ScanWordChunk, KSeparatorsInARowGiveKMinus1Over2EmptyWords) {
    for (const std::string separators :
         {".", ", ", "...", "....", ".....", "?!?!?!", ", , , ,", "        "}) {
        Counts expected = {{"a", 1}, {"b", 1}};
        if (int empty = (static_cast<int>(separators.size()) - 1) / 2; empty > 0) expected[""] = empty;
        EXPECT_EQ(countedByScanWordChunk(" a" + separators + "b " + std::string(30, '-'), 1), expected)
            << '"' << separators << '"';
    }
}

TEST(ScanWordChunk, ProgressDotsOnlyForSingleWords) {
    struct Case {
        const char* what;
        char fill;
        std::int64_t length;
        std::int32_t n;
        std::string dots;
    };
    const Case cases[] = {
        {"every position visited: 0 to 4 and 10,000,000 to 10,000,004", 'x', 10'000'030, 1, ".........."},
        {"every other position visited", ' ', 10'000'030, 1, "......"},
        {"N = 2 prints none", 'x', 10'000'030, 2, ""},
        {"26 bytes: a dot at position 0", 'x', 26, 1, "."},
        {"25 bytes: nothing scanned", 'x', 25, 1, ""},
    };
    for (const auto& c : cases) {
        ExactBuffer chunk(std::string(static_cast<std::size_t>(c.length), c.fill));
        std::ostringstream progress;
        scanWordNGrams(chunk.data(), chunk.size(), c.n, PrintedConsole(progress),
                       [](const std::string_view*, std::size_t) {});
        EXPECT_EQ(progress.str(), c.dots) << c.what;
    }
}

TEST(ScanWordChunk, ReusingWordsGivesTheTextsAndDotsOfBuildingEachNGramAfresh) {
    std::mt19937 random(12345);
    for (int round = 0; round < 400; ++round) {
        std::string bytes = randomChunk(random, random() % 700);
        for (std::int32_t n = 1; n <= 6; ++n) {
            std::string dots, expectedDots;
            ASSERT_EQ(scanTexts(bytes, n, &dots), referenceTexts(bytes, n, &expectedDots))
                << "round " << round << " N " << n;
            ASSERT_EQ(dots, expectedDots) << "round " << round << " N " << n;
        }
    }
    // Long enough that texts go on in many runs and the joined words are
    // moved between runs.
    std::string bytes = randomChunk(random, 300'000);
    for (std::int32_t n = 1; n <= 6; ++n)
        ASSERT_EQ(scanTexts(bytes, n), referenceTexts(bytes, n)) << "N " << n;
    // Random bytes around the first interval's end, where positions are
    // visited at any phase; before them no word fits.
    for (int round = 0; round < 2; ++round) {
        std::string bytes = std::string(ProgressInterval - 100 - round, 'x') + randomChunk(random, 300);
        std::string dots, expectedDots;
        ASSERT_EQ(scanTexts(bytes, 1, &dots), referenceTexts(bytes, 1, &expectedDots)) << "round " << round;
        ASSERT_EQ(dots, expectedDots) << "round " << round;
    }
}

// Run under AddressSanitizer, this shows that no byte after the chunk is read.
TEST(ScanWordChunk, ReadsNothingPastTheChunkEnd) {
    std::mt19937 random(777);
    std::string longestWords;  // words of 17 bytes reach furthest from a start
    while (longestWords.size() < 400) longestWords.append(" ").append(letters(17));
    for (std::int32_t n = 1; n <= 6; ++n) {
        for (std::int64_t length = n * WordMargin - 2; length <= n * WordMargin + 40; ++length) {
            auto size = static_cast<std::size_t>(length);
            for (const std::string& bytes :
                 {longestWords.substr(0, size), longestWords.substr(1, size), std::string(size, '.'),
                  shortWords(length), randomChunk(random, size)}) {
                EXPECT_EQ(scanTexts(bytes, n), referenceTexts(bytes, n));
            }
        }
    }
}

TEST(ScanWordChunk, NBelowOneCountsNothing) {
    EXPECT_EQ(scanTexts(shortWords(200), 0), Texts{});
    EXPECT_EQ(scanTexts(shortWords(200), -1), Texts{});
}

// ---- Word mode in the driver -----------------------------------------------

TEST(WordMode, EachChunkIsScannedOnItsOwn) {
    std::mt19937 random(99);
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes.append(" ").append(letters(1 + static_cast<int>(random() % 8)));
    TempDir dir;
    writeFile(dir.path("input"), bytes);
    const std::int64_t chunkSize = 120;
    for (std::int32_t n : {1, 2, 3}) {
        Counts expected;
        for (std::size_t start = 0; start < bytes.size(); start += chunkSize)
            for (const auto& text : referenceTexts(std::string_view(bytes).substr(start, chunkSize), n))
                ++expected[text];
        NGramCountTable table(NoLimits);
        std::ostringstream console;
        countInput(table, Arguments{Mode::Words, n, dir.path("input"), ""}, chunkSize,
                   PrintedConsole(console));
        EXPECT_EQ(tableContents(table), expected) << "N " << n;
    }
}

}  // namespace
