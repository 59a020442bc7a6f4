#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/file_io.h"
#include "formats/count_file_reader.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

using CountList = std::vector<std::int64_t>;

CountList countsOf(std::string_view data) {
    ExactBuffer exact(data);
    CountList counts;
    forEachCount(exact.view(), "counts.txt", [&](std::int64_t count) { counts.push_back(count); });
    return counts;
}

std::string writtenEntry(std::string text, std::int64_t count) {
    return writtenEntries({{std::move(text), count}});
}

TEST(CountFileWriter, WritesOneEntryByteForByte) {
    struct Case {
        const char* what;
        std::string text;
        std::int64_t count;
        std::string bytes;
    };
    const Case cases[] = {
        {"plain text", "ab", 12, "ab;12\r\n"},
        {"text ending in ';'", "b;", 3, "b;;3\r\n"},
        {"empty text", "", 7, ";7\r\n"},
        {"LF inside a text becomes CR LF", "a\nb", 1, "a\r\nb;1\r\n"},
        {"lone CR kept", "a\rb", 1, "a\rb;1\r\n"},
        {"high bytes and 0x1A kept", "\xE9\xFF\x80\x1A", 1, "\xE9\xFF\x80\x1A;1\r\n"},
        {"only line feeds", "\n\n", 2, "\r\n\r\n;2\r\n"},
        {"a count beyond 32 bits", "x", 3'000'000'001, "x;3000000001\r\n"},
        {"the longest short text", std::string(64, 'q'), 9, std::string(64, 'q') + ";9\r\n"},
        {"one byte longer", std::string(65, 'q'), 9, std::string(65, 'q') + ";9\r\n"},
        {"a long text with an LF", std::string(70, 'q') + "\n", 1, std::string(70, 'q') + "\r\n;1\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(writtenEntry(c.text, c.count), c.bytes) << c.what;
}

TEST(CountFileReader, FindsTheEntriesOfAFile) {
    struct Case {
        const char* what;
        std::string data;
        CountList counts;
    };
    const Case cases[] = {
        {"LF line ends", "a;1\nb;1\nc;2\n", {1, 1, 2}},
        {"CR LF line ends", "a;1\r\nb;1\r\nc;2\r\n", {1, 1, 2}},
        {"empty file", "", {}},
        {"one byte", "5", {}},
        {"only a separator", ";", {}},
        {"only a line end", "\r\n", {}},
        {"empty text", ";7\r\n", {7}},
        {"last line without line end", "a;1\r\nb;2", {1, 2}},
        {"last line ends in CR only", "a;1\r\nb;2\r", {1, 2}},
        {"separator as the last byte", "a;1\r\n;", {1}},
        {"line without ';' between entries", "a;1\r\nnothing here\r\nb;2\r\n", {1, 2}},
        {"blank lines", "\n\r\n\na;3\n\n", {3}},
        {"text holding ';': count after the last one", "a;b;7\r\n", {7}},
        {"text holding ';' and digits", "x;12;5\r\n", {5}},
        {"text ending in ';'", "b;;3\r\n", {3}},
        {"text of ';' only", ";;;4\r\n", {4}},
        {"text ';' LF 'a' is one entry", ";\r\na;5\r\n", {5}},
        {"text of LFs only", "\r\n\r\n;2\r\n", {2}},
        {"lone CR inside a text", "a\rb;3\r\n", {3}},
        {"CR right after a ';' of the text", "a;\rb;3\r\n", {3}},
        {"high bytes and 0x1A", "\xE9\xFF;\x80\x1A;6\r\n", {6}},
        {"empty count text", "a;\r\nb;1\r\n", {1}},
        {"count text of a CR only", "a;\r\r\n", {}},
        {"leading blanks", "a;  12\r\n", {12}},
        {"leading tab, CR and blank", "a;\t\r 12\r\n", {12}},
        {"plus sign", "a;+3\r\n", {3}},
        {"minus sign", "a;-4\r\n", {-4}},
        {"zero", "a;0\r\n", {0}},
        {"leading zeros", "a;007\r\n", {7}},
        {"two signs", "a;+-3\r\n", {}},
        {"blank after the sign", "a;- 3\r\n", {}},
        {"sign only", "a;-\r\n", {}},
        {"letters before the digits", "a;x5\r\n", {}},
        {"junk after the digits ends the number as atoi does", "a;5x\r\n", {5}},
        {"blank after the digits", "a;5 6\r\n", {5}},
        {"count above 2^31", "a;2147483648\r\n", {2147483648}},
        {"count above 2^32", "a;4294967301\r\n", {4294967301}},
        {"largest count", "a;9223372036854775807\r\n", {INT64_MAX}},
        {"smallest count", "a;-9223372036854775808\r\n", {INT64_MIN}},
        {"more than 19 digits that fit", "a;000000000000000000000000042\r\n", {42}},
    };
    for (const auto& c : cases) EXPECT_EQ(countsOf(c.data), c.counts) << c.what;
}

TEST(CountFileReader, ACountBeyond64BitsIsAnErrorNamingItsLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"a;9223372036854775808\r\n", "line 1: "},
        {"a;1\r\nb;2\r\nc;-9223372036854775809\r\n", "line 3: "},
        {"a\r\nb;99999999999999999999", "line 2: "},
    };
    for (const auto& [data, line] : cases) {
        try {
            countsOf(data);
            ADD_FAILURE() << "no error for " << data;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, "counts.txt");
            EXPECT_EQ(std::string(error.what()).rfind(line, 0), 0u) << error.what();
        }
    }
}

TEST(CountFileReader, ReadsNothingBeyondTheData) {
    // The data ends inside a bigger buffer whose next bytes would be read as
    // more digits or another line.
    const std::string buffer = "a;12;34\nb;5";
    auto read = [&](std::size_t length) {
        CountList counts;
        forEachCount(std::string_view(buffer).substr(0, length), "counts.txt",
                     [&](std::int64_t count) { counts.push_back(count); });
        return counts;
    };
    EXPECT_EQ(read(4), CountList{12});
    EXPECT_EQ(read(2), CountList{});
    EXPECT_EQ(read(10), CountList{34});
}

// Every text of up to four bytes drawn from ';', LF, CR, blank, sign and other
// bytes, alone and all in one file: since no digit is among them, no part of a
// text can look like a count, so each entry reads as exactly its own count.
TEST(CountFileReader, ReadsBackEveryEntryTheWriterWritesForTextsWithoutDigits) {
    const std::string alphabet = ";\n\r -a\xE9";
    std::vector<std::string> texts{""};
    for (std::size_t from = 0, length = 1; length <= 4; ++length) {
        std::size_t to = texts.size();
        for (std::size_t i = from; i < to; ++i)
            for (char byte : alphabet) texts.push_back(texts[i] + byte);
        from = to;
    }
    ASSERT_EQ(texts.size(), 1u + 7 + 49 + 343 + 2401);

    std::string wholeFile;
    CountList expected;
    std::int64_t count = 1;
    for (const auto& text : texts) {
        std::string entry = writtenEntry(text, count);
        ASSERT_EQ(countsOf(entry), CountList{count}) << "text of " << text.size() << " bytes: " << entry;
        wholeFile += entry;
        expected.push_back(count);
        count = count * 7 % 1'000'003 + 1;
    }
    EXPECT_EQ(countsOf(wholeFile), expected);
}

TEST(CountFileReader, ATextHoldingACountBeforeItsOwnLineFeedReadsAsAnExtraEntry) {
    EXPECT_EQ(countsOf(writtenEntry("a;12\nb", 5)), (CountList{12, 5}));
    EXPECT_EQ(countsOf(writtenEntry(";0\n", 5)), (CountList{0, 5}));
    EXPECT_EQ(countsOf(writtenEntry("12\n;", 5)), (CountList{5}));
}

// The same file read through blocks of every small size: lines cut at
// every position by a block's end, and lines longer than a block.
TEST(CountFileReader, ReadsAFileInBlocksOfAnySizeAsItReadsItWhole) {
    const std::string files[] = {
        "",
        ";",
        "a;1\r\nb;22\r\nc;333\r\n",
        "a;1\r\nb;2",
        ";\r\na;5\r\nx;12;5\r\n\r\nno entry\r\nlong text without an entry;x\r\nz;  -77\r\n;",
        "\n\n\na;4444444444444\n",
    };
    TempDir dir;
    for (const auto& bytes : files) {
        writeFile(dir.path("counts"), bytes);
        CountList whole = countsOf(bytes);
        for (std::int64_t blockSize : {1, 2, 3, 4, 5, 7, 16, 1 << 20}) {
            CountList counts;
            forEachCountInFile(
                dir.path("counts"), [&](std::int64_t count) { counts.push_back(count); }, blockSize);
            EXPECT_EQ(counts, whole) << "block size " << blockSize << " of " << bytes;
        }
    }
}

TEST(CountFileReader, NamesTheLineOfACountBeyond64BitsInAnyBlock) {
    TempDir dir;
    std::string bytes;
    for (int line = 1; line < 1000; ++line) bytes += line % 3 ? "a;1\r\n" : "a\r\n";
    bytes += "b;9223372036854775808\r\nc;1\r\n";
    writeFile(dir.path("counts"), bytes);
    for (std::int64_t blockSize : {1, 7, 100, 1 << 20}) {
        try {
            forEachCountInFile(
                dir.path("counts"), [](std::int64_t) {}, blockSize);
            ADD_FAILURE() << "no error with block size " << blockSize;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, dir.path("counts"));
            EXPECT_STREQ(error.what(), "line 1000: the count does not fit in 64 bits");
        }
    }
}

TEST(CountFileReader, AFileThatCannotBeReadIsRaised) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("dir"));
    for (const std::string& path : {dir.path("missing"), dir.path("dir")}) {
        try {
            forEachCountInFile(path, [](std::int64_t) {});
            ADD_FAILURE() << "no error for " << path;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, path);
        }
    }
}

TEST(CountFileReader, AFileThatShrinksWhileBeingReadIsRaised) {
    TempDir dir;
    std::string lines;
    for (int i = 0; i < 100; ++i) lines += "a;1\r\n";
    writeFile(dir.path("counts"), lines);
    LineBlockReader blocks(dir.path("counts"), 16);
    EXPECT_FALSE(blocks.nextBlock().empty());
    std::filesystem::resize_file(dir.path("counts"), 20);
    EXPECT_THROW(while (!blocks.nextBlock().empty()){}, IoError);
}

}  // namespace
