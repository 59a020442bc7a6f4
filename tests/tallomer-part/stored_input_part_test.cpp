// tallomer-part over corpora as they are stored: compressed files and
// streams count as their data, whole, and merge to tallomer's count file of
// the data.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "common/file_io.h"
#include "counting/chunk_reader.h"
#include "input/stored_input.h"
#include "tests/input/compressed.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

struct Merged {
    ProgramRun part;
    std::string counts;
};

// Counts the input into a part (standard input from `stdinPath`) and
// merges it alone.
Merged partThenMerge(const TempDir& dir, const std::string& mode, int n, const std::string& input,
                     const std::string& stdinPath = "/dev/null") {
    Merged merged;
    merged.part = runProgram(TALLOMER_PART_PROGRAM,
                             {mode, std::to_string(n), input, "0", "end", dir.path("part")}, stdinPath);
    EXPECT_EQ(merged.part.err, "");
    EXPECT_EQ(runProgram(TALLOMER_MERGE_PROGRAM, {"1/1", dir.path("merged"), dir.path("part")}).exitCode, 0);
    merged.counts = readFile(dir.path("merged"));
    return merged;
}

// Writes the bytes into a FIFO on a thread of its own, for a program
// that reads the FIFO as its standard input or by name.
class FifoWriter {
public:
    FifoWriter(const std::string& path, std::string bytes) {
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        writer_ = std::thread([path, bytes = std::move(bytes)] { writeFile(path, bytes); });
    }
    ~FifoWriter() { writer_.join(); }

private:
    std::thread writer_;
};

TEST(StoredInput, CompressedFilesAndStreamsCountAsTheirData) {
    TempDir dir;
    std::string data = randomBytes(std::string("ab c,\xE9\n\0", 8), 20'000, 3);
    writeFile(dir.path("plain"), data);
    // Two members or frames each: every one is read.
    std::string half = data.substr(0, 7'001), rest = data.substr(7'001);
    const std::pair<Compression, const char*> formats[] = {{Compression::Gzip, "in.gz"},
                                                           {Compression::Zstd, "in.zst"},
                                                           {Compression::Xz, "in.xz"},
                                                           {Compression::Bzip2, "in.bz2"}};
    for (const auto& [compression, name] : formats)
        writeFile(dir.path(name), compressed(compression, half) + compressed(compression, rest));
    for (auto [mode, n] : {std::pair{"c", 1}, {"c", 3}, {"c", 8}, {"c", 19}, {"w", 1}, {"w", 3}}) {
        ASSERT_EQ(
            runProgram(TALLOMER_PROGRAM, {mode, std::to_string(n), dir.path("plain"), dir.path("counts")})
                .exitCode,
            0);
        const std::string expected = readFile(dir.path("counts"));
        for (const auto& [compression, name] : formats) {
            Merged merged = partThenMerge(dir, mode, n, dir.path(name));
            EXPECT_NE(merged.part.out.find("bytes 0-20000 of"), std::string::npos) << merged.part.out;
            EXPECT_TRUE(merged.counts == expected) << mode << " " << n << " " << name;
        }
        // Standard input from a file and from a pipe, and a FIFO by name.
        EXPECT_TRUE(partThenMerge(dir, mode, n, "-", dir.path("plain")).counts == expected) << mode << n;
        {
            FifoWriter fifo(dir.path("fifo"), compressed(Compression::Zstd, data));
            EXPECT_TRUE(partThenMerge(dir, mode, n, "-", dir.path("fifo")).counts == expected) << mode << n;
        }
        ::unlink(dir.path("fifo").c_str());
        {
            FifoWriter fifo(dir.path("fifo"), data);
            EXPECT_TRUE(partThenMerge(dir, mode, n, dir.path("fifo")).counts == expected) << mode << n;
        }
        ::unlink(dir.path("fifo").c_str());
    }
}

// Two streams are two inputs, however alike: their counts add up. An empty
// one counts nothing.
TEST(StoredInput, StreamPartsAreInputsOfTheirOwn) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 40; ++i) text += "to be or not to be, ";
    writeFile(dir.path("plain"), text + std::string(100, ' '));
    for (const char* part : {"one", "two"})
        ASSERT_EQ(
            runProgram(TALLOMER_PART_PROGRAM, {"w", "1", "-", "0", "end", dir.path(part)}, dir.path("plain"))
                .exitCode,
            0);
    ASSERT_EQ(
        runProgram(TALLOMER_MERGE_PROGRAM, {"1/1", dir.path("sum"), dir.path("one"), dir.path("two")}).err,
        "");
    EXPECT_EQ(readFile(dir.path("sum")), ";78\r\nbe;160\r\nnot;80\r\nor;80\r\nto;158\r\n");
    ProgramRun empty = runProgram(TALLOMER_PART_PROGRAM, {"c", "3", "-", "0", "end", dir.path("empty")});
    EXPECT_EQ(empty.out, dir.path("empty") + ": 0 distinct n-grams, 0 in all, bytes 0-0 of -\n");
}

// What cannot be counted fails before a part is written: the old part stays,
// and no temporary file is left.
TEST(StoredInput, BadInputsLeaveNoPart) {
    TempDir dir;
    std::string data(5'000, 'x');
    std::string gzip = compressed(Compression::Gzip, data);
    writeFile(dir.path("in.gz"), gzip);
    writeFile(dir.path("cut.zst"), compressed(Compression::Zstd, data + "y").substr(0, 12));
    std::string corrupt = gzip;
    corrupt[corrupt.size() / 2] ^= 0x55;
    writeFile(dir.path("corrupt.gz"), corrupt);
    writeFile(dir.path("plain.xz"), data);
    const struct {
        std::string input, from, to, reason;
    } cases[] = {
        {dir.path("in.gz"), "0", "100", "a compressed file is counted whole: FROM must be 0 and TO end"},
        {dir.path("in.gz"), "1", "end", "a compressed file is counted whole"},
        {dir.path("cut.zst"), "0", "end", "truncated"},
        {dir.path("corrupt.gz"), "0", "end", ""},
        {dir.path("plain.xz"), "0", "end", "xz"},
    };
    for (const auto& c : cases) {
        writeFile(dir.path("part"), "old");
        ProgramRun run =
            runProgram(TALLOMER_PART_PROGRAM, {"c", "2", c.input, c.from, c.to, dir.path("part")});
        EXPECT_EQ(run.exitCode, 2) << c.input;
        EXPECT_EQ(run.err.rfind("tallomer-part: " + c.input + ": ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_EQ(readFile(dir.path("part")), "old");
        EXPECT_EQ(filesIn(dir.path("")).size(), 5u) << "a temporary file was left";
    }
}

// The three-argument form a workflow plans an input's parts by: its bytes,
// not its name, tell a compressed file; a stream is not opened, so a FIFO
// without a writer answers at once.
TEST(StoredInput, SaysWhetherAnInputIsCountedWhole) {
    TempDir dir;
    std::string data(3'000, 'a');
    writeFile(dir.path("plain.txt"), data);
    writeFile(dir.path("empty"), "");
    writeFile(dir.path("gzip.txt"), compressed(Compression::Gzip, data));
    writeFile(dir.path("in.zst"), compressed(Compression::Zstd, data));
    writeFile(dir.path("in.xz"), compressed(Compression::Xz, data));
    writeFile(dir.path("in.bz2"), compressed(Compression::Bzip2, data));
    writeFile(dir.path("plain.gz"), data);
    ASSERT_EQ(::mkfifo(dir.path("fifo").c_str(), 0600), 0);
    const struct {
        std::string mode, input;
        int exitCode;
        std::string out, err;  // the start of standard error
    } cases[] = {
        {"c", dir.path("plain.txt"), 0, "1\n", ""},
        {"w", dir.path("plain.txt"), 0, "100000000\n", ""},
        {"c", dir.path("empty"), 0, "1\n", ""},
        {"c", dir.path("gzip.txt"), 0, "whole\n", ""},
        {"w", dir.path("in.zst"), 0, "whole\n", ""},
        {"c", dir.path("in.xz"), 0, "whole\n", ""},
        {"c", dir.path("in.bz2"), 0, "whole\n", ""},
        {"c", dir.path("fifo"), 0, "whole\n", ""},
        {"c", "/proc/cpuinfo", 0, "whole\n", ""},  // its size says 0, yet it reads bytes
        {"c", "-", 0, "whole\n", ""},
        {"c", dir.path("plain.gz"), 2, "", "tallomer-part: " + dir.path("plain.gz") + ": its name says gzip"},
        {"c", dir.path("missing"), 2, "", "tallomer-part: " + dir.path("missing") + ": "},
        {"c", dir.path(""), 2, "", "tallomer-part: " + dir.path("") + ": is a directory"},
        {"x", dir.path("plain.txt"), 1, "", "tallomer-part: "},
    };
    for (const auto& c : cases) {
        ProgramRun asked = runProgram(TALLOMER_PART_PROGRAM, {c.mode, "3", c.input}, dir.path("plain.txt"));
        EXPECT_EQ(asked.exitCode, c.exitCode) << c.input;
        EXPECT_EQ(asked.out, c.out) << c.input;
        EXPECT_EQ(asked.err.rfind(c.err, 0), 0u) << asked.err;
        EXPECT_EQ(asked.err.empty(), c.err.empty()) << asked.err;
    }
}

// A pseudo-file is counted as a stream of what it reads, not as empty.
TEST(StoredInput, APseudoFileCountsWhatItReads) {
    TempDir dir;
    ProgramRun run =
        runProgram(TALLOMER_PART_PROGRAM, {"c", "1", "/proc/self/status", "0", "end", dir.path("p")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find(": 0 distinct"), std::string::npos) << run.out;
}

// A count that fails while the next chunk of a stream is read ahead ends at
// once, though the stream's writer neither writes nor closes.
TEST(StoredInput, AFailureDoesNotWaitForAPausedWriter) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.path("fifo").c_str(), 0600), 0);
    int writer = ::open(dir.path("fifo").c_str(), O_RDWR);  // open without a reader, never blocks
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "0123456789abcde", 15), 15);  // chunk 0, and part of chunk 1
    auto abandon = std::async(std::launch::async, [&] {
        StoredInput input(dir.path("fifo"));
        StreamChunks chunks(input, 10, 2);
        ChunkReader reader(chunks, allocateBytes(12), allocateBytes(12));
        FilledChunk filled;
        EXPECT_EQ(std::string(reader.next(filled), 12), "0123456789ab");
        // The count of chunk 0 fails here: the reader goes.
    });
    bool ended = abandon.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    ::close(writer);  // ends the wait, if it did not end
    EXPECT_TRUE(ended) << "the count waited for the stream's writer";
}

// On a terminal the progress line shows the counting and the writing and
// is gone at the end; a failure is told on a clean line.
TEST(StoredInput, ProgressOnATerminalOnly) {
    TempDir dir;
    writeFile(dir.path("plain"), randomBytes("ab c", 50'000, 5));
    writeFile(dir.path("in.gz"), compressed(Compression::Gzip, readFile(dir.path("plain"))));
    for (const char* input : {"plain", "in.gz"}) {
        ProgramRun run = runProgramWithTerminalError(TALLOMER_PART_PROGRAM,
                                                     {"c", "4", dir.path(input), "0", "end", dir.path("p")});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.err.find("\rtallomer-part: counting "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("\rtallomer-part: writing the part "), std::string::npos) << run.err;
        EXPECT_TRUE(run.err.ends_with("\r\x1b[K")) << run.err;
    }
    writeFile(dir.path("bad.gz"), "not gzip");
    ProgramRun failed = runProgramWithTerminalError(
        TALLOMER_PART_PROGRAM, {"c", "4", dir.path("bad.gz"), "0", "end", dir.path("p")});
    EXPECT_EQ(failed.exitCode, 2);
    EXPECT_EQ(failed.err,
              "tallomer-part: " + dir.path("bad.gz") + ": its name says gzip, but its bytes are not gzip\n");
}

}  // namespace
