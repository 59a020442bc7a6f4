#include "counting/chunked_input.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <sstream>
#include <vector>

#include "common/file_io.h"
#include "counting/chunk_reader.h"
#include "tests/counting/table_contents.h"
#include "tests/support/run_program.h"
#include "tests/support/table_for_tests.h"
#include "tests/support/test_inputs.h"

namespace {

// Counts the file's character n-grams with the given chunk size.
Counts countCharacters(const std::string& bytes, int n, std::int64_t chunkSize,
                       std::string* console = nullptr) {
    TempDir dir;
    writeFile(dir.path("input"), bytes);
    NGramCountTable table(NoLimits);
    std::ostringstream out;
    countInput(table, Arguments{Mode::Characters, n, dir.path("input"), ""}, chunkSize, PrintedConsole(out));
    if (console) *console = out.str();
    return tableContents(table);
}

TEST(PlanChunks, SplitsIntoFullChunksAndTheRest) {
    struct Case {
        std::int64_t size, count, lastLength;
    };
    const Case cases[] = {
        {0, 1, 0},           {1, 1, 1},           {100'000'000, 1, 100'000'000},
        {100'000'001, 2, 1}, {200'000'000, 3, 0}, {250'000'000, 3, 50'000'000},
    };
    for (const auto& c : cases) {
        ChunkPlan plan = planChunks(c.size, ChunkSize);
        EXPECT_EQ(plan.count, c.count) << c.size;
        EXPECT_EQ(plan.length(plan.count - 1), c.lastLength) << c.size;
        EXPECT_EQ(plan.readLength(plan.count - 1, 18), c.lastLength) << "nothing read past the end";
        for (std::int64_t k = 0; k + 1 < plan.count; ++k) EXPECT_EQ(plan.length(k), ChunkSize);
    }
}

TEST(PrintFileSize, UsesSixSignificantDigits) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "Filesize: 0 MB\n"},
        {1, "Filesize: 1e-06 MB\n"},
        {123'456'789, "Filesize: 123.457 MB\n"},
        {250'000'000, "Filesize: 250 MB\n"},
        {1'000'000'000'000, "Filesize: 1e+06 MB\n"},
    };
    for (const auto& [size, line] : cases) {
        std::ostringstream out;
        printFileSize(out, size);
        EXPECT_EQ(out.str(), line);
    }
}

TEST(CharacterScan, CountsEveryWindowOfTheFile) {
    EXPECT_EQ(countCharacters("abc", 1, ChunkSize), (Counts{{"a", 1}, {"b", 1}, {"c", 1}}));
    EXPECT_EQ(countCharacters("abc", 3, ChunkSize), (Counts{{"abc", 1}}));
    EXPECT_EQ(countCharacters("ab", 3, ChunkSize), Counts{});
    EXPECT_EQ(countCharacters("", 1, ChunkSize), Counts{});
    EXPECT_EQ(countCharacters(std::string("a\0bcd", 5), 3, ChunkSize),
              (Counts{{"a", 1}, {"", 1}, {"bcd", 1}}));
    EXPECT_EQ(countCharacters(std::string("\0\0\0", 3), 2, ChunkSize), (Counts{{"", 2}}));
}

TEST(CharacterScan, ChunkBoundariesChangeNoCount) {
    std::string text;
    for (int i = 0; i < 600; ++i) text += static_cast<char>("ab;\n\r\0\xE9 x"[(i * 7 + i / 13) % 10]);
    for (int n : {1, 2, 3, 5, 8, 19}) {
        Counts expected = everyWindow(text, n);
        for (std::int64_t chunkSize : {1, 2, 3, 7, 18, 19, 20, 64, 599, 600, 601}) {
            EXPECT_EQ(countCharacters(text, n, chunkSize), expected) << "N " << n << " chunk " << chunkSize;
        }
    }
}

TEST(CharacterScan, AnnouncesEveryChunkAndDotsEachChunkStart) {
    std::string console;
    countCharacters("abcdefg", 3, 3, &console);  // chunks abc, def, g: only g starts no window
    EXPECT_EQ(console,
              "Filesize: 7e-06 MB\n"
              "\nLoading chunk into memory 1/3\n."
              "\nLoading chunk into memory 2/3\n."
              "\nLoading chunk into memory 3/3\n");
    countCharacters("abcdef", 1, 3, &console);  // an exact multiple: the last chunk is empty
    EXPECT_EQ(console,
              "Filesize: 6e-06 MB\n"
              "\nLoading chunk into memory 1/3\n."
              "\nLoading chunk into memory 2/3\n."
              "\nLoading chunk into memory 3/3\n");
}

// ---- Ranges of starts --------------------------------------------------------

// The table after counting the ranges between consecutive cuts, one after
// the other, as the parts of a whole run.
Counts countRanges(Mode mode, const std::string& bytes, int n, std::int64_t chunkSize,
                   const std::vector<std::int64_t>& cuts) {
    TempDir dir;
    writeFile(dir.path("input"), bytes);
    NGramCountTable table(NoLimits);
    std::ostringstream console;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
        countInputRange(table, Arguments{mode, n, dir.path("input"), ""}, cuts[i], cuts[i + 1], chunkSize,
                        PrintedConsole(console));
    return tableContents(table);
}

Counts countWhole(Mode mode, const std::string& bytes, int n, std::int64_t chunkSize) {
    return countRanges(mode, bytes, n, chunkSize, {0, static_cast<std::int64_t>(bytes.size())});
}

TEST(CountInputRange, PartsAddUpToTheWholeRun) {
    std::string text;
    for (int i = 0; i < 600; ++i) text += static_cast<char>("ab;\n\r\0\xE9 x,"[(i * 7 + i / 13) % 11]);
    struct Case {
        const char* what;
        Mode mode;
        std::vector<std::int64_t> cuts;
    };
    const Case cases[] = {
        {"characters, cuts within chunks", Mode::Characters, {0, 1, 63, 64, 65, 300, 581, 599, 600}},
        {"characters, a range of many chunks", Mode::Characters, {0, 7, 590, 600}},
        {"characters, empty ranges", Mode::Characters, {0, 0, 300, 300, 600, 600}},
        {"words, cuts at chunk starts", Mode::Words, {0, 64, 128, 320, 576, 600}},
        {"words, one range", Mode::Words, {0, 600}},
    };
    for (const Case& c : cases)
        for (int n : {1, 3, 8, 19}) {
            if (c.mode == Mode::Words && n > 3) continue;
            EXPECT_EQ(countRanges(c.mode, text, n, 64, c.cuts), countWhole(c.mode, text, n, 64))
                << c.what << ", N " << n;
        }
    EXPECT_EQ(countWhole(Mode::Characters, text, 8, 64), everyWindow(text, 8));
}

TEST(CountInputRange, RefusesRangesThatAreNoShareOfAWholeRun) {
    TempDir dir;
    writeFile(dir.path("input"), std::string(100, 'a'));
    struct Case {
        const char* what;
        Mode mode;
        std::int64_t from, to;
        const char* reason;  // empty: counted
    };
    const Case cases[] = {
        {"start past end", Mode::Characters, 5, 4, "the range's start 5 is past its end 4"},
        {"end past the input", Mode::Characters, 0, 101,
         "the range's end 101 is past the input's end (100 bytes)"},
        {"words cut inside a chunk", Mode::Words, 10, 100,
         "the range's start 10 is neither a multiple of 64 nor the input's size: word mode scans each chunk "
         "of "
         "64 bytes on its own, and a cut elsewhere would lose or split words"},
        {"words cut at the input's end", Mode::Words, 64, 100, ""},
        {"words cut at the end itself", Mode::Words, 100, 100, ""},
    };
    for (const Case& c : cases) {
        std::ostringstream console;
        NGramCountTable table(NoLimits);
        try {
            countInputRange(table, Arguments{c.mode, 1, dir.path("input"), ""}, c.from, c.to, 64,
                            PrintedConsole(console));
            EXPECT_STREQ(c.reason, "") << c.what;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, dir.path("input")) << c.what;
            EXPECT_EQ(error.what(), std::string(c.reason)) << c.what;
        }
    }
}

// Reading ahead, or in pieces on several threads, hands out the bytes that
// reading in turn does, and a chunk that cannot be read fails when its turn
// comes, not while the one before is counted.
TEST(ChunkReader, ReadingAheadChangesNoByteAndNoFailure) {
    TempDir dir;
    std::string bytes = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (bool ahead : {false, true})
        for (std::size_t threads : {1, 3}) {
            writeFile(dir.path("input"), bytes);
            InputFile input(dir.path("input"));
            ChunkPlan plan = planChunks(30, 10);  // four chunks, the last empty
            FileChunks chunks(input, plan, 2, 3);
            ChunkReader reader(chunks, allocateBytes(12), ahead ? allocateBytes(12) : ByteBuffer{}, {},
                               threads);
            FilledChunk filled;
            std::string what = (ahead ? "ahead, " : "") + std::to_string(threads) + " threads";
            EXPECT_EQ(std::string(reader.next(filled), 12), bytes.substr(0, 12)) << what;
            std::filesystem::resize_file(dir.path("input"), 25);
            EXPECT_EQ(std::string(reader.next(filled), 12), bytes.substr(10, 12)) << what;
            EXPECT_THROW(reader.next(filled), IoError) << "chunk 2 ends past the shrunk file; " << what;
        }
}

// A chunk is told counted when the next is asked for, the last when the
// reader goes: each once, reading ahead or not.
TEST(ChunkReader, TellsEachChunkCountedOnce) {
    TempDir dir;
    writeFile(dir.path("input"), std::string(25, 'x'));
    for (bool ahead : {false, true}) {
        std::vector<std::int64_t> told;
        {
            InputFile input(dir.path("input"));
            ChunkPlan plan = planChunks(25, 10);
            FileChunks chunks(input, plan, 2);
            ChunkReader reader(chunks, allocateBytes(12), ahead ? allocateBytes(12) : ByteBuffer{},
                               [&](std::int64_t length) { told.push_back(length); });
            FilledChunk filled;
            for (std::size_t k = 0; k < 3; ++k) {
                reader.next(filled);
                EXPECT_EQ(told.size(), k) << ahead;
            }
        }
        EXPECT_EQ(told, (std::vector<std::int64_t>{10, 10, 5})) << ahead;
    }
}

// A stream that hands out its bytes a few at a time.
class StringStream final : public ByteStream {
public:
    explicit StringStream(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t read(char* into, std::size_t bytes) override {
        std::size_t part = std::min({bytes, bytes_.size() - at_, std::size_t{7}});
        bytes_.copy(into, part, at_);
        at_ += part;
        return part;
    }

private:
    std::string bytes_;
    std::size_t at_ = 0;
};

// A stream counts as a file of its bytes, whatever its size against the
// chunks, on one thread and reading ahead on two.
TEST(CountStream, CountsAsTheFileOfItsBytes) {
    std::string text;
    for (int i = 0; i < 100; ++i) text += "ab cd\nef g"[(i * 7 + i / 3) % 11];
    for (auto [mode, n] :
         {std::pair{Mode::Characters, 1}, {Mode::Characters, 3}, {Mode::Words, 1}, {Mode::Words, 2}})
        for (std::size_t size : {0, 1, 9, 10, 11, 12, 20, 21, 30, 31, 100})
            for (int threads : {1, 2}) {
                TempDir dir;
                writeFile(dir.path("input"), text.substr(0, size));
                NGramCountTable file({std::int64_t{1} << 40, dir.path(""), 64, threads});
                std::ostringstream console;
                countInput(file, Arguments{mode, n, dir.path("input"), ""}, 10, PrintedConsole(console));
                NGramCountTable stream({std::int64_t{1} << 40, dir.path(""), 64, threads});
                StringStream bytes(text.substr(0, size));
                EXPECT_EQ(countStream(stream, Arguments{mode, n, "-", ""}, bytes, 10, CountingConsole()),
                          static_cast<std::int64_t>(size));
                EXPECT_EQ(tableContents(stream), tableContents(file))
                    << (mode == Mode::Words ? "w " : "c ") << n << ", " << size << " bytes, " << threads;
            }
}

// The bytes counted are told as the scanners go, not once a chunk: each
// byte once, in steps of about CountedStep, in every mode, on one thread
// and on two.
TEST(CountInput, TellsTheBytesCountedInSmallSteps) {
    struct Told final : CountingConsole {
        void counted(std::int64_t bytes) const override {
            std::lock_guard<std::mutex> hold(lock);
            steps.push_back(bytes);
        }
        mutable std::mutex lock;
        mutable std::vector<std::int64_t> steps;
    };
    TempDir dir;
    const std::int64_t size = 5 * CountedStep + 345;
    writeFile(dir.path("input"), randomBytes("abc de,f.", size, 7));
    for (auto [mode, n] :
         {std::pair{Mode::Characters, 2}, {Mode::Characters, 8}, {Mode::Words, 1}, {Mode::Words, 3}})
        for (int threads : {1, 2}) {
            NGramCountTable table({std::int64_t{1} << 40, dir.path(""), 64, threads});
            Told told;
            countInput(table, Arguments{mode, n, dir.path("input"), ""}, size / 2, told);
            std::int64_t sum = 0, largest = 0;
            for (std::int64_t step : told.steps) {
                sum += step;
                largest = std::max(largest, step);
            }
            const char* what = mode == Mode::Words ? "w" : "c";
            EXPECT_EQ(sum, size) << what << n << " " << threads;
            EXPECT_LE(largest, 2 * CountedStep) << what << n << " " << threads;
        }
}

}  // namespace
