#include "input/stored_input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "tests/input/compressed.h"
#include "tests/support/run_program.h"
#include "tests/support/test_inputs.h"

namespace {

constexpr Compression Formats[] = {Compression::None, Compression::Gzip, Compression::Zstd, Compression::Xz,
                                   Compression::Bzip2};
constexpr Compression CompressedFormats[] = {Compression::Gzip, Compression::Zstd, Compression::Xz,
                                             Compression::Bzip2};

std::string suffixOf(Compression compression) {
    static const std::map<Compression, std::string> suffixes = {{Compression::None, ".txt"},
                                                                {Compression::Gzip, ".gz"},
                                                                {Compression::Zstd, ".zst"},
                                                                {Compression::Xz, ".xz"},
                                                                {Compression::Bzip2, ".bz2"}};
    return suffixes.at(compression);
}

// Text that compresses to several stored buffers (about 6 bits a byte).
const std::string& corpus() {
    static const std::string text =
        randomBytes("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \n", 2'500'000, 7);
    return text;
}

const std::string& compressedCorpus(Compression compression) {
    static std::map<Compression, std::string> cache;
    auto [it, added] = cache.try_emplace(compression);
    if (added) it->second = compressed(compression, corpus());
    return it->second;
}

// Reads the input whole with reads of `sizes` in turn; a short read must
// be the last that returns anything.
std::string readAll(StoredInput& input, const std::vector<std::size_t>& sizes) {
    std::string data;
    std::vector<char> buffer(*std::max_element(sizes.begin(), sizes.end()));
    for (std::size_t i = 0;; ++i) {
        std::size_t wanted = sizes[i % sizes.size()];
        std::size_t got = input.read(buffer.data(), wanted);
        data.append(buffer.data(), got);
        if (got < wanted) {
            EXPECT_EQ(input.read(buffer.data(), wanted), 0u);
            return data;
        }
    }
}

std::string readPath(const std::string& path,
                     std::int64_t decoderMemory = StoredInput::DefaultDecoderMemory) {
    StoredInput input(path, decoderMemory);
    return readAll(input, {1 << 16});
}

TEST(StoredInput, ReadsEveryFormatWholeWithReadsOfAnySize) {
    const std::vector<std::vector<std::size_t>> readSizes = {
        {1, 4095, (1 << 20) + 3, 7}, {corpus().size() + 1}, {StoredBytes::BufferSize / 2, 1}};
    TempDir dir;
    for (Compression compression : Formats) {
        std::string path = dir.path("corpus" + suffixOf(compression));
        writeFile(path, compressedCorpus(compression));
        for (const auto& sizes : readSizes) {
            SCOPED_TRACE(path + ", first read " + std::to_string(sizes[0]));
            StoredInput input(path);
            EXPECT_EQ(input.compression(), compression);
            EXPECT_FALSE(input.isStream());
            EXPECT_EQ(input.storedSize(), static_cast<std::int64_t>(compressedCorpus(compression).size()));
            EXPECT_TRUE(readAll(input, sizes) == corpus());
            EXPECT_EQ(input.storedBytesRead(), input.storedSize());
        }
    }
}

TEST(StoredInput, ReadsEveryMemberFrameAndStreamInOrder) {
    using enum Compression;
    struct Case {
        const char* name;
        std::string bytes;
        std::string data;
    };
    const Case cases[] = {
        {"members.gz", compressed(Gzip, "first ") + compressed(Gzip, "") + compressed(Gzip, "second"),
         "first second"},
        {"frames.zst",
         compressed(Zstd, "first ") + zstdSkippableFrame("xx") + compressed(Zstd, "") +
             compressed(Zstd, "second") + zstdSkippableFrame(""),
         "first second"},
        {"skippable-first.zst", zstdSkippableFrame("index") + compressed(Zstd, "data"), "data"},
        {"only-skippable.zst", zstdSkippableFrame("index"), ""},
        {"padded.xz", compressed(Xz, "first ") + std::string(4, '\0') + compressed(Xz, "second"),
         "first second"},
        {"streams.bz2", compressed(Bzip2, "first ") + compressed(Bzip2, "second"), "first second"},
        {"halves.gz",
         compressed(Gzip, corpus().substr(0, 1'000'003)) + compressed(Gzip, corpus().substr(1'000'003)),
         corpus()},
    };
    TempDir dir;
    for (const Case& c : cases) {
        writeFile(dir.path(c.name), c.bytes);
        EXPECT_TRUE(readPath(dir.path(c.name)) == c.data) << c.name;
    }
}

TEST(StoredInput, EmptyCompressedDataAndAZeroByteFileHoldNoData) {
    TempDir dir;
    for (Compression compression : Formats) {
        std::string path = dir.path("empty" + suffixOf(compression));
        writeFile(path, compressed(compression, ""));
        StoredInput input(path);
        EXPECT_EQ(input.compression(), compression) << path;
        char byte;
        EXPECT_EQ(input.read(&byte, 1), 0u) << path;
    }
}

TEST(StoredInput, RefusesCorruptAndTruncatedInputNamingIt) {
    std::string sample = corpus().substr(0, 300'000);
    struct Case {
        std::string name, bytes, words;
    };
    std::vector<Case> cases;
    for (Compression compression : CompressedFormats) {
        std::string good = compressed(compression, sample), format = compressionName(compression);
        std::string flipped = good;
        flipped[flipped.size() / 2] ^= 0x55;
        cases.push_back({"flipped", flipped, "corrupt " + format + " data"});
        cases.push_back({"half", good.substr(0, good.size() / 2), "truncated " + format + " data"});
        cases.push_back({"last-byte-cut", good.substr(0, good.size() - 1), "truncated " + format + " data"});
        cases.push_back({"header-only", good.substr(0, 12), "truncated " + format + " data"});
        cases.push_back(
            {"trailing-garbage", compressed(compression, "abc") + "garbage", "corrupt " + format + " data"});
    }
    cases.push_back(
        {"xz-padding-of-3",
         compressed(Compression::Xz, "abc") + std::string(3, '\0') + compressed(Compression::Xz, "d"),
         "corrupt xz data: 3 bytes of padding"});
    cases.push_back(
        {"gzip-then-a-magic-byte", compressed(Compression::Gzip, "abc") + "\x1F", "truncated gzip data"});
    cases.push_back({"bzip2-bad-checksum",
                     compressed(Compression::Bzip2, "abc").substr(0, 10) + std::string(30, 'x'),
                     "corrupt bzip2 data"});
    TempDir dir;
    for (const Case& c : cases) {
        std::string path = dir.path(c.name + "." + std::to_string(&c - cases.data()));
        writeFile(path, c.bytes);
        try {
            readPath(path);
            ADD_FAILURE() << path << ": read without error";
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, path);
            EXPECT_NE(std::string(error.what()).find(c.words), std::string::npos)
                << path << ": " << error.what();
        }
    }
}

TEST(StoredInput, ANameThatPromisesAnotherFormatIsRefused) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* refusal;  // none when it is read
    };
    const Case cases[] = {
        {"plain.gz", "plain text", "its name says gzip, but its bytes are not gzip"},
        {"frame.xz", compressed(Compression::Zstd, "x"), "its name says xz, but its bytes are zstd"},
        {"short.bz2", "BZh9", "its name says bzip2, but its bytes are not bzip2"},
        {"empty.zstd", "", "its name says zstd, but its bytes are not zstd"},
        {"upper.BZ2", compressed(Compression::Bzip2, "x"), nullptr},
        {"long.zstd", compressed(Compression::Zstd, "x"), nullptr},
        {"gzip.txt", compressed(Compression::Gzip, "x"), nullptr},
        {"gz", compressed(Compression::Gzip, "x"), nullptr},
    };
    TempDir dir;
    for (const Case& c : cases) {
        writeFile(dir.path(c.name), c.bytes);
        if (!c.refusal) {
            EXPECT_EQ(readPath(dir.path(c.name)), "x") << c.name;
            continue;
        }
        try {
            StoredInput input(dir.path(c.name));
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, dir.path(c.name));
            EXPECT_EQ(std::string(error.what()), c.refusal);
        }
    }
}

TEST(StoredInput, RefusesWhatItCannotReadAndAFileThatShrinks) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("folder"));
    for (std::string path : {dir.path("folder"), dir.path("missing")}) {
        try {
            StoredInput input(path);
            ADD_FAILURE() << path;
        } catch (const IoError& error) {
            EXPECT_EQ(error.path, path);
        }
    }
    std::string path = dir.path("shrinking");
    writeFile(path, corpus());
    StoredInput input(path);
    std::filesystem::resize_file(path, corpus().size() / 2);
    EXPECT_THROW(readAll(input, {1 << 16}), IoError);
}

TEST(StoredInput, RefusesAWindowBeyondTheMemoryLimit) {
    TempDir dir;
    for (Compression compression : {Compression::Zstd, Compression::Xz}) {
        std::string path = dir.path("corpus" + suffixOf(compression));
        writeFile(path, compressedCorpus(compression));
        EXPECT_THROW(readPath(path, 1 << 16), IoError) << path;
    }
}

// Standard input replaced by a pipe that a thread fills with `bytes`, put
// back when the object goes.
class PipedStandardInput {
public:
    explicit PipedStandardInput(std::string bytes) : saved_(dup(STDIN_FILENO)) {
        int ends[2];
        if (saved_ < 0 || pipe(ends) != 0 || dup2(ends[0], STDIN_FILENO) < 0)
            throw std::runtime_error("pipe");
        close(ends[0]);
        writer_ = std::thread([end = ends[1], bytes = std::move(bytes)] {
            // A reader that stops early makes write fail instead of raising
            // SIGPIPE.
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            for (std::size_t done = 0; done < bytes.size();) {
                ssize_t written = write(end, bytes.data() + done, bytes.size() - done);
                if (written <= 0) break;
                done += static_cast<std::size_t>(written);
            }
            close(end);
        });
    }
    ~PipedStandardInput() {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
        writer_.join();
    }

private:
    int saved_;
    std::thread writer_;
};

TEST(StoredInput, ReadsStandardInputThroughAPipeLosingNoByte) {
    struct Case {
        const char* name;
        std::string bytes, data;
        Compression compression;
    };
    const Case cases[] = {
        {"empty", "", "", Compression::None},
        {"shorter than a magic number", "BZh", "BZh", Compression::None},
        {"plain", corpus(), corpus(), Compression::None},
        {"gzip", compressedCorpus(Compression::Gzip), corpus(), Compression::Gzip},
        {"zstd", compressed(Compression::Zstd, "a") + compressed(Compression::Zstd, "b"), "ab",
         Compression::Zstd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PipedStandardInput piped(c.bytes);
        StoredInput input("-");
        EXPECT_TRUE(input.isStream());
        EXPECT_EQ(input.storedSize(), std::nullopt);
        EXPECT_EQ(input.compression(), c.compression);
        EXPECT_TRUE(readAll(input, {4095, 1 << 20}) == c.data);
        EXPECT_EQ(input.storedBytesRead(), static_cast<std::int64_t>(c.bytes.size()));
    }
}

TEST(StoredInput, StandardInputFromAFileIsReadFromWhereItStands) {
    TempDir dir;
    writeFile(dir.path("file.gz"), "skip" + compressed(Compression::Gzip, "data"));
    int file = open(dir.path("file.gz").c_str(), O_RDONLY), saved = dup(STDIN_FILENO);
    ASSERT_EQ(lseek(file, 4, SEEK_SET), 4);
    dup2(file, STDIN_FILENO);
    close(file);
    {
        StoredInput input("-");
        EXPECT_FALSE(input.isStream());
        EXPECT_EQ(input.compression(), Compression::Gzip);
        EXPECT_EQ(readAll(input, {100}), "data");
        EXPECT_EQ(input.storedBytesRead(), input.storedSize());
    }
    dup2(saved, STDIN_FILENO);
    close(saved);
}

TEST(StoredInput, ErrorsOnStandardInputNameIt) {
    PipedStandardInput piped(compressed(Compression::Xz, "abc").substr(0, 20));
    try {
        readPath("-");
        ADD_FAILURE() << "read without error";
    } catch (const IoError& error) {
        EXPECT_EQ(error.path, "standard input");
    }
}

}  // namespace
