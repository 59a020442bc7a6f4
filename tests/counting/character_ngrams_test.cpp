#include "counting/character_ngrams.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>

#include "counting/chunked_input.h"
#include "tests/counting/table_contents.h"
#include "tests/support/table_for_tests.h"

namespace {

// Few distinct bytes, a NUL among them, so that every window offset holds a
// NUL somewhere, NULs come in runs, and windows repeat.
std::string randomBytes(std::size_t length, unsigned seed) {
    return ::randomBytes(std::string_view("\0ab \xE9\xFF\x80", 7), length, seed);
}

Counts scanned(const std::string& bytes, int n, std::int64_t chunkLength, std::string* dots = nullptr) {
    NGramCountTable table(NoLimits);
    std::ostringstream progress;
    CharacterScanner scanner(table);
    scanner.scanChunk(bytes.data(), chunkLength, static_cast<std::int64_t>(bytes.size()), n,
                      PrintedConsole(progress));
    scanner.finish();
    if (dots) *dots = progress.str();
    return tableContents(table);
}

TEST(CharacterChunk, CutsWindowsAtANulInEveryPosition) {
    // N of 1 to 3 count in a direct array when the chunk is large enough,
    // and through the table otherwise; 4 to 8 as packed keys; above 8 as texts.
    for (int n = 1; n <= MaxCharacterN; ++n) {
        std::size_t large = n <= 3 ? (std::size_t{1} << 20) + 5 : 5000;
        for (std::size_t length : {large, std::size_t{300}}) {
            std::string bytes = randomBytes(length, static_cast<unsigned>(n));
            std::size_t windows = length - static_cast<std::size_t>(n) + 1;
            EXPECT_EQ(scanned(bytes, n, static_cast<std::int64_t>(windows)), everyWindow(bytes, n, windows))
                << "N " << n << ", " << length << " bytes";
        }
    }
}

TEST(CharacterChunk, CountsOnlyWindowsStartingInTheChunk) {
    // The bytes after the chunk complete its last windows and start none.
    for (int n : {1, 2, 3, 4, 8, 9, 19}) {
        std::string bytes = randomBytes(static_cast<std::size_t>(n == 3 ? (1 << 20) + 40 : 4000), 99);
        std::int64_t chunkLength = static_cast<std::int64_t>(bytes.size()) - 30;
        std::string available = bytes.substr(0, static_cast<std::size_t>(chunkLength + n - 1));
        EXPECT_EQ(scanned(available, n, chunkLength),
                  everyWindow(bytes, n, static_cast<std::size_t>(chunkLength)))
            << "N " << n;
    }
}

TEST(CharacterChunk, CountsAddUpOverChunks) {
    // The direct counters are handed to the table after each chunk and
    // start the next one from zero.
    std::string bytes = randomBytes((3 << 20) + 17, 5);
    for (int n : {1, 2, 3}) {
        NGramCountTable table(NoLimits);
        std::ostringstream progress;
        std::int64_t half = static_cast<std::int64_t>(bytes.size()) / 2;
        CharacterScanner scanner(table);
        scanner.scanChunk(bytes.data(), half, half + n - 1, n, PrintedConsole(progress));
        scanner.scanChunk(bytes.data() + half, static_cast<std::int64_t>(bytes.size()) - half,
                          static_cast<std::int64_t>(bytes.size()) - half, n, PrintedConsole(progress));
        scanner.finish();
        EXPECT_EQ(tableContents(table), everyWindow(bytes, n, bytes.size() - static_cast<std::size_t>(n) + 1))
            << "N " << n;
    }
}

TEST(CharacterChunk, EveryLastBatchLeftWithTheTableIsCounted) {
    // A scanner keeps its last sorted batch until finish() leaves it with
    // the table; a second batch left there makes the first a run, and a
    // scan after finish() sorts into a buffer of its own.
    struct Case {
        const char* what;
        bool oneScanner;
        int n;
    };
    const Case cases[] = {
        {"one scanner, finished after each chunk", true, 8},
        {"a scanner for each chunk, keys of one word", false, 8},
        {"a scanner for each chunk, keys of three words", false, 19},
        {"a sorted chunk, then a direct one", true, 3},
    };
    // The second chunk is large enough for N of 3's direct counters.
    std::string bytes = randomBytes((1 << 20) + 6000, 9);
    const std::int64_t first = 5000, size = static_cast<std::int64_t>(bytes.size());
    for (const Case& c : cases) {
        NGramCountTable table(NoLimits);
        std::ostringstream progress;
        auto scanner = std::make_unique<CharacterScanner>(table);
        scanner->scanChunk(bytes.data(), first, first + c.n - 1, c.n, PrintedConsole(progress));
        scanner->finish();
        if (!c.oneScanner) scanner = std::make_unique<CharacterScanner>(table);
        scanner->scanChunk(bytes.data() + first, size - first, size - first, c.n, PrintedConsole(progress));
        scanner->finish();
        EXPECT_EQ(tableContents(table),
                  everyWindow(bytes, c.n, bytes.size() - static_cast<std::size_t>(c.n) + 1))
            << c.what;
    }
}

TEST(CharacterChunk, CountsALongRunOfOneByteAtEveryN) {
    // Equal keys that split only at the key's last byte, then keys of
    // another first byte: the sort once went on past the key, splitting by
    // the bytes beyond, one call deeper per few windows.
    std::string bytes = std::string(150'000, 'z') + "y" + std::string(20, '{');
    for (int n = 4; n <= MaxCharacterN; ++n) {
        std::size_t windows = bytes.size() - static_cast<std::size_t>(n) + 1;
        EXPECT_EQ(scanned(bytes, n, static_cast<std::int64_t>(windows)), everyWindow(bytes, n, windows))
            << "N " << n;
    }
}

TEST(CharacterChunk, NoWindowNoDot) {
    std::string dots;
    EXPECT_EQ(scanned("abc", 4, 3, &dots), Counts{});
    EXPECT_EQ(dots, "");
    EXPECT_EQ(scanned("abc", 3, 1, &dots), (Counts{{"abc", 1}}));
    EXPECT_EQ(dots, ".");
}

}  // namespace
