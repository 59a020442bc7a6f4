#include "formats/part_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::int64_t>>;

const PartHeader Header{'w', 3,    {1234, 1'700'000'000'123'456'789, 0xFEEDFACECAFEBEEFu},
                        100, 1000, std::string("in\0put;\xE9", 9)};

void writePart(const std::string& path, const Entries& entries,
               std::size_t indexMemoryBytes = PartWriter::IndexMemoryBytes) {
    PartWriter writer(path, Header, indexMemoryBytes);
    for (const auto& [text, count] : entries) writer.add(text, count);
    writer.commit();
}

struct IndexedBlock {
    std::string prefix;
    std::int64_t offset, bytes;
};

std::vector<IndexedBlock> indexOf(const std::string& path) {
    PartReader reader(path, 1);
    PartIndexCursor index = reader.index();
    std::vector<IndexedBlock> blocks;
    while (index.nextPage())
        for (const PartBlock& block : index.page())
            blocks.push_back({std::string(block.prefix), block.offset, block.bytes});
    return blocks;
}

Entries readPart(PartReader& reader) {
    Entries read;
    while (reader.next()) read.emplace_back(std::string(reader.text()), reader.count());
    return read;
}

// Sorted distinct texts sharing long prefixes, so that blocks hold many.
Entries manyEntries(int count) {
    Counts sorted;
    for (int i = 0; i < count; ++i)
        sorted[randomBytes(std::string("ab\0\n\r;\xE9\xFF", 8), 1 + i % 40, i)] = i;
    return Entries(sorted.begin(), sorted.end());
}

// Texts longer than a block, all beginning with the same 100 bytes, so
// that the index's prefixes of them are equal.
Entries longEntries(int count) {
    Counts sorted;
    for (int i = 0; i < count; ++i) sorted[std::string(100, 'p') + randomBytes("ab", 70'000, i)] = i + 1;
    return Entries(sorted.begin(), sorted.end());
}

TEST(PartFile, RoundTripsEntriesAndHeader) {
    const std::string longText = randomBytes("xyz\n", 200'000, 1);
    struct Case {
        const char* what;
        Entries entries;
    };
    const Case cases[] = {
        {"no entries", {}},
        {"empty text first", {{"", 5}, {"a", 1}}},
        {"NUL, LF, CR, ';' and high bytes in texts",
         {{std::string("\0", 1), 2},
          {std::string("\0\0", 2), 1},
          {"\n\r;", 3},
          {"\x80\xFF", 4},
          {"\xFF", 1}}},
        {"a text longer than a block", {{"a", 1}, {longText, 7}, {longText + "b", 2}, {"z", 1}}},
        {"large counts", {{"a", INT64_MAX / 2}, {"b", INT64_MAX / 2}}},
        {"many blocks", manyEntries(60'000)},
    };
    TempDir dir;
    for (const Case& c : cases) {
        // An index kept in memory, and one spilled to a temporary file page
        // by page, give the same bytes.
        writePart(dir.path("spilled"), c.entries, 1);
        writePart(dir.path("part"), c.entries);
        EXPECT_TRUE(readFile(dir.path("spilled")) == readFile(dir.path("part"))) << c.what;
        for (std::size_t buffer : {std::size_t{1}, std::size_t{1} << 20}) {
            PartReader reader(dir.path("part"), buffer);
            EXPECT_EQ(reader.entries(), static_cast<std::int64_t>(c.entries.size())) << c.what;
            EXPECT_EQ(readPart(reader), c.entries) << c.what << ", buffer " << buffer;
            const PartHeader& h = reader.header();
            EXPECT_EQ(std::tie(h.mode, h.n, h.input, h.from, h.to, h.inputName),
                      std::tie(Header.mode, Header.n, Header.input, Header.from, Header.to, Header.inputName))
                << c.what;
        }
    }
    EXPECT_GT(indexOf(dir.path("part")).size(), 10u) << "many blocks";
    EXPECT_EQ(filesIn(dir.path("")), (std::vector<std::string>{"part", "spilled"}))
        << "a temporary file was left";
}

// A text longer than a block fills a block of its own; the index keeps a
// prefix of it, so the part is about the size of its texts, not twice it.
TEST(PartFile, TextsLongerThanABlockAreStoredOnce) {
    TempDir dir;
    Entries entries = longEntries(40);
    writePart(dir.path("part"), entries);
    std::int64_t textBytes = 40 * 70'100;
    EXPECT_LT(static_cast<std::int64_t>(readFile(dir.path("part")).size()), textBytes + textBytes / 20);
}

// Short texts, whose whole first texts the index keeps, over many pages
// of it; and long ones whose indexed prefixes are all equal, where only the
// first block starts before every range.
TEST(PartFile, RestrictToSeeksByTheIndex) {
    TempDir dir;
    for (const Entries& entries : {manyEntries(250'000), longEntries(30)}) {
        writePart(dir.path("part"), entries);
        std::vector<IndexedBlock> index = indexOf(dir.path("part"));
        ASSERT_GT(index.size(), 20u);
        if (entries.size() > 30) {
            ASSERT_GT(index.size(), PageBlocks) << "more than one page";
        }
        const std::string edge = entries[entries.size() / 3].first,
                          later = entries[entries.size() * 3 / 4].first;
        const std::string between = entries[entries.size() / 3 + 1].first + '\x01';
        // The first block of the second page (or the last block), and the
        // text before it, whose block is on the page before.
        const std::string pageStart = index[std::min(PageBlocks, index.size() - 1)].prefix;
        auto atPage =
            std::lower_bound(entries.begin(), entries.end(), pageStart,
                             [](const auto& entry, const std::string& text) { return entry.first < text; });
        const std::string beforePage = atPage == entries.begin() ? "" : std::prev(atPage)->first;
        struct Case {
            const char* what;
            std::string from;
            std::optional<std::string> to;
        };
        const Case cases[] = {
            {"everything", "", std::nullopt},
            {"from a text", edge, std::nullopt},
            {"from between texts, to a text", between, later},
            {"to between texts", "", between},
            {"within one block", between, between + "\x01"},
            {"empty range", edge, edge},
            {"from a page's first indexed prefix", pageStart, std::nullopt},
            {"from the last text before a page", beforePage, std::nullopt},
            {"from past the last text", std::string(200, '\xFF'), std::nullopt},
        };
        // A reader starts from the index's start, or from the last page
        // noted before its range: of every page, or of every other one.
        PartPages everyPage, everyOther;
        PartReader indexed(dir.path("part"), 0);
        PartIndexCursor cursor = indexed.index();
        for (int page = 0; cursor.nextPage(); ++page) {
            everyPage.add(cursor.page().front().prefix, cursor.position());
            if (page % 2 == 1) everyOther.add(cursor.page().front().prefix, cursor.position());
        }
        for (const Case& c : cases) {
            Entries expected;
            for (const auto& entry : entries)
                if (entry.first >= c.from && (!c.to || entry.first < *c.to)) expected.push_back(entry);
            for (const PartPages* pages : {static_cast<PartPages*>(nullptr), &everyPage, &everyOther}) {
                PartReader reader(dir.path("part"), 4096);
                reader.restrictTo(c.from, c.to ? std::optional<std::string_view>(*c.to) : std::nullopt,
                                  pages);
                EXPECT_TRUE(readPart(reader) == expected)
                    << c.what << ", " << entries.size() << " entries, pages noted: " << (pages != nullptr);
            }
        }
    }
}

// What a merge's progress counts: adjacent ranges of a part, each read
// through, read its whole body between them, not a record more or less,
// wherever they are cut (between texts, at a text or a block's first,
// within a block, empty).
TEST(PartFile, AdjacentRangesReadTheBodyOnce) {
    TempDir dir;
    Entries entries = manyEntries(40'000);
    writePart(dir.path("part"), entries);
    std::vector<IndexedBlock> index = indexOf(dir.path("part"));
    ASSERT_GT(index.size(), 4u);
    const std::int64_t body = index.back().offset + index.back().bytes - index[0].offset;
    const std::string edge = entries[entries.size() / 3].first;
    const std::vector<std::vector<std::string>> cutsOfCases = {
        {},
        {edge},
        {edge + '\x01', edge + "\x01\x01", entries[entries.size() / 2].first},
        {edge, edge, index[index.size() / 2].prefix, std::string(200, '\xFF')},
    };
    for (const auto& cuts : cutsOfCases) {
        std::int64_t read = 0;
        for (std::size_t range = 0; range <= cuts.size(); ++range) {
            PartReader reader(dir.path("part"), 4096);
            reader.restrictTo(
                range == 0 ? "" : cuts[range - 1],
                range < cuts.size() ? std::optional<std::string_view>(cuts[range]) : std::nullopt);
            RecordBatch batch;
            while (reader.nextBatch(batch)) {
            }
            read += reader.rangeBytesRead();
        }
        EXPECT_EQ(read, body) << cuts.size() << " cuts";
    }
}

TEST(PartFile, DamagedTruncatedAndForeignFilesAreRefused) {
    TempDir dir;
    Entries entries = manyEntries(20'000);
    writePart(dir.path("good"), entries);
    const std::string good = readFile(dir.path("good"));
    std::vector<IndexedBlock> index = indexOf(dir.path("good"));
    const std::size_t bodyStart = static_cast<std::size_t>(index[0].offset);
    const std::size_t indexStart = static_cast<std::size_t>(index.back().offset + index.back().bytes);
    const std::size_t size = good.size();
    auto flipped = [&](std::size_t at) {
        std::string bytes = good;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
        return bytes;
    };
    struct Case {
        const char* what;
        std::string bytes;
        std::string reason;
        bool atOpen;
    };
    const Case cases[] = {
        {"empty file", "", "not a part file", true},
        {"a count file", "ab;2\r\nba;1\r\n", "not a part file", true},
        {"unknown version", good.substr(0, 7) + '\x09' + good.substr(8), "part file of an unknown version 9",
         true},
        {"cut in the header", good.substr(0, 30), "truncated part file", true},
        {"cut in the body", good.substr(0, bodyStart + 100), "truncated part file", true},
        {"cut in the index", good.substr(0, indexStart + 5), "truncated part file", true},
        {"cut in the trailer", good.substr(0, size - 3), "truncated part file", true},
        {"bytes appended", good + "more\n", "damaged part file (5 bytes after its end)", true},
        {"unknown version in the trailer", good.substr(0, size - 1) + '\x09',
         "part file of an unknown version 9", true},
        {"byte flipped in the header", flipped(30), "damaged part file (checksum)", true},
        {"byte flipped in the input name", flipped(bodyStart - 10), "damaged part file (checksum)", true},
        {"byte flipped in the index", flipped(indexStart + 6), "damaged part file (checksum)", false},
        {"byte flipped in the trailer", flipped(size - 40), "damaged part file (checksum)", true},
        {"byte flipped in the body", flipped((bodyStart + indexStart) / 2), "damaged part file (checksum)",
         false},
    };
    for (const Case& c : cases) {
        writeFile(dir.path("part"), c.bytes);
        try {
            PartReader reader(dir.path("part"), 4096);
            EXPECT_FALSE(c.atOpen) << c.what << ": opened";
            readPart(reader);
            ADD_FAILURE() << c.what << ": read to the end";
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, dir.path("part")) << c.what;
            EXPECT_EQ(error.what(), c.reason) << c.what;
        }
    }
}

TEST(PartFile, AnUncommittedWriterLeavesTheOldFile) {
    TempDir dir;
    writeFile(dir.path("part"), "old");
    {
        PartWriter writer(dir.path("part"), Header);
        writer.add("a", 1);
    }
    EXPECT_EQ(readFile(dir.path("part")), "old");
}

// An edit anywhere changes the modification time; the size and the
// sampled blocks tell files apart whose times were set alike.
TEST(InputIdentity, ChangesWithSizeTimeOrSampledBytes) {
    TempDir dir;
    const std::string bytes = randomBytes("abcdef", 3'000'000, 2), path = dir.path("input");
    auto identityOf = [&](const std::string& contents, std::int64_t seconds = 1'000'000'000) {
        writeFile(path, contents);
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        EXPECT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return inputIdentity(path);
    };
    const InputIdentity original = identityOf(bytes);
    EXPECT_EQ(original.size, 3'000'000);
    EXPECT_EQ(original.modifiedNanoseconds, 1'000'000'000'000'000'000);
    EXPECT_EQ(identityOf(bytes), original);
    std::string middleEdited = bytes;
    middleEdited[1'234'567] = 'Q';  // between the sampled blocks
    EXPECT_EQ(identityOf(middleEdited), original) << "only the time tells this edit";
    EXPECT_NE(identityOf(middleEdited, 1'000'000'001), original) << "edited later";
    EXPECT_NE(identityOf(bytes + "a"), original) << "grown";
    EXPECT_NE(identityOf("x" + bytes.substr(1)), original) << "first byte changed";
    EXPECT_NE(identityOf(bytes.substr(0, bytes.size() - 1) + "x"), original) << "last byte changed";
    EXPECT_NE(identityOf("").contentSample, identityOf(std::string(1, '\0')).contentSample)
        << "empty, one NUL";
    EXPECT_THROW(inputIdentity(dir.path("missing")), IoError);
}

}  // namespace
