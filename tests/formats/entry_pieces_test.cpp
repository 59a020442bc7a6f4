// Entries with their texts, read from any offset and in pieces, against
// the entries the writer wrote.
#include "formats/entry_pieces.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "formats/count_file_reader.h"
#include "formats/count_lines.h"
#include "formats/entry_locator.h"
#include "formats/line_masks.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

// An entry as a reader hands it over: where it starts, its text, its count.
using Read = std::tuple<std::int64_t, std::string, std::int64_t>;

std::vector<Read> readPieces(const std::string& path, const std::vector<std::int64_t>& cuts,
                             std::int64_t blockBytes, std::int64_t windowBytes, int leastDigits = 0) {
    std::vector<Read> read;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        EntryPiece piece(path, cuts[i], cuts[i + 1], blockBytes, windowBytes);
        piece.forEach(
            [&](EntryPiece::Entry& entry) {
                read.emplace_back(entry.start(), std::string(entry.text()), entry.count());
            },
            [&] { return leastDigits; });
    }
    return read;
}

// The entries of the file as the writer wrote them, with their starts.
std::vector<Read> written(const EntryList& entries) {
    struct Sizes final : BlockSink {
        std::int64_t bytes = 0;
        void take(CountBlock& block) override {
            bytes += static_cast<std::int64_t>(block.used);
            block.used = 0;
        }
    } sizes;
    std::vector<Read> expected;
    for (const auto& [text, count] : entries) {
        expected.emplace_back(sizes.bytes, text, count);
        CountLines line(sizes);
        line.add(text, count);
        line.finish();
    }
    return expected;
}

TEST(EntryText, IsTheTextTheWriterWrote) {
    struct Case {
        const char* what;
        std::string bytes, text;
    };
    const Case cases[] = {
        {"one line", "ab;12\r\n", "ab"},
        {"';' inside", "a;b;7\r\n", "a;b"},
        {"no line end", "ab;1", "ab"},
        {"empty text", ";5\r\n", ""},
        {"an LF written as CR LF", "a\r\nb;1\r\n", "a\nb"},
        {"an LF written without CR", "a\nb;1\n", "a\nb"},
        {"a CR before the LF kept", "a\r\r\nb;1\r\n", "a\r\nb"},
        {"only LFs", "\r\n\r\n;2\r\n", "\n\n"},
        {"';' in a line before", "a;\r\nb;3\r\n", "a;\nb"},
    };
    std::string scratch;
    for (const auto& c : cases) EXPECT_EQ(entryText(c.bytes, scratch), c.text) << c.what;
}

// What the masks pass over, on either width, is what the rule reads as no
// entry or an entry of fewer digits than asked for, and the entries they
// tell are entries; the bytes are those that matter, in every mix.
TEST(LineMasks, PassOverOnlyWhatTheRuleAllows) {
    const std::string bytes = randomBytes("\r\n\n;;;0123456789 -a", 64 * 2'000, 5);
    for (bool wide : {false, wideStepsWork()}) {
        for (int least : {0, 2, 4, 9}) {
            std::vector<StepMasks> steps(2'000);
            LineMasks(wide).next(bytes.data(), steps.size(), least, steps.data());
            std::size_t lineStart = 0, passedOver = 0;
            for (std::size_t at = 0; at < bytes.size(); ++at) {
                if (bytes[at] != '\n') continue;
                const StepMasks& step = steps[at / 64];
                std::uint64_t bit = std::uint64_t{1} << (at % 64);
                ASSERT_NE(step.lineFeeds & bit, 0u);
                std::int64_t count = 0;
                LineKind kind =
                    classifyCountLine(std::string_view(bytes).substr(lineStart, at - lineStart), count);
                if (step.passOver & bit) {
                    ++passedOver;
                    EXPECT_EQ(kind == LineKind::Entry, (step.entries & bit) != 0) << at;
                    if (kind == LineKind::Entry) {
                        EXPECT_LT(std::to_string(count).size(), static_cast<std::size_t>(least)) << at;
                    }
                }
                lineStart = at + 1;
            }
            EXPECT_GT(passedOver, 100u) << least;
        }
    }
}

TEST(EntryLocator, RefusesAFileThatDoesNotEndAnEntry) {
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;  // empty: accepted
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"entries", "a;1\r\nb;2\r\n", ""},
        {"LF line ends", "a;1\nb;2\n", ""},
        {"last line cut in its count", "a;1\r\nb;2", "does not end with a line end"},
        {"last line cut after its ';'", "a;1\r\nb;", "does not end with a line end"},
        {"lines of text", "hello\nworld\n", "its last line holds no count"},
        {"a text's first line last", "a;1\r\nb\r\n", "its last line holds no count"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        writeFile(dir.path("counts"), c.bytes);
        EntryLocator file(dir.path("counts"));
        try {
            file.checkEnd();
            EXPECT_EQ(std::string(c.reason), "") << c.what;
        } catch (const IoError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(c.reason, 0), 0u) << c.what << ": " << error.what();
            EXPECT_NE(std::string(c.reason), "") << c.what;
        }
    }
}

// From every offset of a small file of awkward entries: the next entry
// start, and the entry there, whatever the window the file is read through.
TEST(EntryLocator, FindsTheNextEntryFromEveryOffset) {
    TempDir dir;
    EntryList entries = awkwardEntries(60, 1);
    writeFile(dir.path("counts"), writtenEntries(entries));
    std::vector<Read> expected = written(entries);
    for (std::int64_t window : {1, 5, 4096}) {
        EntryLocator file(dir.path("counts"), window);
        std::size_t next = 0;
        for (std::int64_t offset = 0; offset <= file.size(); ++offset) {
            while (next < expected.size() && std::get<0>(expected[next]) < offset) ++next;
            std::optional<std::int64_t> start = file.entryStartIn(offset, file.size());
            if (next == expected.size()) {
                EXPECT_FALSE(start) << offset;
                continue;
            }
            ASSERT_EQ(start, std::get<0>(expected[next])) << "offset " << offset << ", window " << window;
            LocatedEntry entry = file.entryAt(*start);
            EXPECT_EQ(Read(entry.start, std::string(entry.text), entry.count), expected[next]);
        }
    }
}

// Cut anywhere, also inside entries of several lines, the pieces read the
// entries of one reading from the start, whole, once each, in order.
TEST(EntryPiece, PiecesReadEveryEntryOnceWhereverTheyAreCut) {
    TempDir dir;
    EntryList entries = awkwardEntries(80, 2);
    writeFile(dir.path("counts"), writtenEntries(entries));
    std::vector<Read> expected = written(entries);
    auto size = static_cast<std::int64_t>(writtenEntries(entries).size());
    for (std::int64_t block : {1, 16, 1 << 20}) {
        ASSERT_EQ(readPieces(dir.path("counts"), {0, size}, block, 3), expected) << block;
        for (std::int64_t cut = 0; cut <= size; ++cut)
            ASSERT_EQ(readPieces(dir.path("counts"), {0, cut, size}, block, 3), expected)
                << "cut at " << cut << ", block " << block;
    }
    for (std::size_t pieces : {3, 7, 500}) {
        std::vector<std::int64_t> cuts;
        for (std::size_t i = 0; i <= pieces; ++i) cuts.push_back(pieceCut(size, i, pieces));
        EXPECT_EQ(readPieces(dir.path("counts"), cuts, 64, 16), expected) << pieces << " pieces";
    }
}

// An entry whose count has fewer digits than asked for may be passed over;
// every other comes, as it is.
TEST(EntryPiece, PassesOverOnlyCountsOfFewerDigits) {
    TempDir dir;
    EntryList entries = awkwardEntries(3'000, 3);
    writeFile(dir.path("counts"), writtenEntries(entries));
    std::vector<Read> all = written(entries);
    auto size = static_cast<std::int64_t>(std::filesystem::file_size(dir.path("counts")));
    for (int least : {1, 3, 6, 8}) {
        std::vector<Read> read = readPieces(dir.path("counts"), {0, size / 3, size}, 256, 64, least);
        std::size_t next = 0, passedOver = 0;
        for (const Read& entry : all) {
            bool wanted = std::get<2>(entry) < 0 ||
                          std::to_string(std::get<2>(entry)).size() >= static_cast<std::size_t>(least);
            if (next < read.size() && read[next] == entry) {
                ++next;
            } else {
                EXPECT_FALSE(wanted) << std::get<0>(entry);
                ++passedOver;
            }
        }
        EXPECT_EQ(next, read.size()) << "only entries of the file, in order";
        if (least > 1) {
            EXPECT_GT(passedOver, all.size() / 2) << least;
        }
    }
}

TEST(EntryPiece, ACountBeyond64BitsIsAnErrorNamingItsByte) {
    TempDir dir;
    writeFile(dir.path("counts"), "a;1\r\nb\r\nc;99999999999999999999\r\n");
    try {
        readPieces(dir.path("counts"), {0, 30}, 1 << 20, 4096);
        ADD_FAILURE() << "no error";
    } catch (const IoError& error) {
        EXPECT_EQ(std::string(error.what()), "the line at byte 8: the count does not fit in 64 bits");
    }
}

}  // namespace
