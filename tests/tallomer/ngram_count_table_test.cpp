#include "ngram_count_table.h"

#include <gtest/gtest.h>

#include <map>

#include "file_io.h"
#include "run_program.h"

namespace {

std::string countFileOf(const std::vector<std::string>& texts) {
    clearNGramCountTable();
    for (const auto& text : texts) addNGram(text);
    TempDir dir;
    writeCountFile(dir.path("counts"));
    return readFile(dir.path("counts"));
}

TEST(CountFile, OneEntryIsWrittenByteForByte) {
    struct Case {
        const char* what;
        std::vector<std::string> texts;
        std::string bytes;
    };
    const Case cases[] = {
        {"plain text", std::vector<std::string>(12, "ab"), "ab;12\r\n"},
        {"text ending in ';'", std::vector<std::string>(3, "b;"), "b;;3\r\n"},
        {"empty text", std::vector<std::string>(7, ""), ";7\r\n"},
        {"LF inside a text becomes CR LF", {"a\nb"}, "a\r\nb;1\r\n"},
        {"lone CR kept", {"a\rb"}, "a\rb;1\r\n"},
        {"high bytes and 0x1A kept", {"\xE9\xFF\x80\x1A"}, "\xE9\xFF\x80\x1A;1\r\n"},
        {"only line feeds", {"\n\n", "\n\n"}, "\r\n\r\n;2\r\n"},
        {"nothing counted", {}, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(countFileOf(c.texts), c.bytes) << c.what;
}

TEST(CountFile, TextsThatDifferInOneByteStayApart) {
    clearNGramCountTable();
    for (const char* text : {"The", "the", "the", "caf\xE9", "caf\xC9", "caf\xE9"}) addNGram(text);
    std::map<std::string, std::int64_t> seen;
    forEachNGram([&](std::string_view text, std::int64_t count) { seen[std::string(text)] = count; });
    std::map<std::string, std::int64_t> expected{{"The", 1}, {"the", 2}, {"caf\xE9", 2}, {"caf\xC9", 1}};
    EXPECT_EQ(seen, expected);
}

TEST(CountFile, ReplacesAnExistingFile) {
    TempDir dir;
    writeFile(dir.path("counts"), "old contents that are longer than the new ones");
    clearNGramCountTable();
    addNGram("x");
    writeCountFile(dir.path("counts"));
    EXPECT_EQ(readFile(dir.path("counts")), "x;1\r\n");
}

TEST(CountFile, FailuresToCreateOrWriteAreRaised) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("a directory"));
    clearNGramCountTable();
    addNGram("x");
    for (std::string path : {dir.path("missing/counts"), dir.path("a directory"), std::string("/dev/full")}) {
        try {
            writeCountFile(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, path);
            EXPECT_STRNE(error.what(), "");
        }
    }
}

}  // namespace
