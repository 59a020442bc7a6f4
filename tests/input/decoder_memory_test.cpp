// Sound compressed data that asks for more memory than the decoder may take,
// or for memory that cannot be had, is told as such with the sizes, never
// as corrupt data.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#include "input/stored_input.h"
#include "tests/input/compressed.h"
#include "tests/support/run_program.h"

namespace {

// The bytes of address space the process has mapped now.
std::uint64_t addressSpaceInUse() {
    std::uint64_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// The refusal of reading the input whole, read with the address space
// limited to what is in use and `headroom` more when that is given.
std::string refusalOf(const std::string& path, std::int64_t decoderMemory, std::uint64_t headroom) {
    StoredInput input(path, decoderMemory);
    rlimit saved{};
    getrlimit(RLIMIT_AS, &saved);
    if (headroom > 0) {
        rlimit low{addressSpaceInUse() + headroom, saved.rlim_max};
        setrlimit(RLIMIT_AS, &low);
    }
    std::string refusal = "read without error";
    try {
        char buffer[4096];
        while (input.read(buffer, sizeof buffer) > 0) {
        }
    } catch (const IoError& error) {
        refusal = error.what();
    }
    setrlimit(RLIMIT_AS, &saved);
    return refusal;
}

TEST(DecoderMemory, SoundDataBeyondTheMemoryIsToldWithItsSizes) {
    using enum Compression;
    const std::string longWindow = zstdFrameWithWindow(28, "x"), first = compressed(Zstd, "a");
    // Padding that ends the first 1 MiB buffer three bytes into the next
    // frame's header.
    const std::string padding =
        zstdSkippableFrame(std::string(StoredBytes::BufferSize - 3 - 8 - first.size(), 's'));
    const std::string beyond =
        "zstd data that needs 256 MiB of memory to decompress, more than the limit of 64 MiB";
    struct Case {
        const char* name;
        std::string bytes;
        std::int64_t decoderMemory;
        std::uint64_t headroom;  // of address space, when limited
        std::string refusal;
    } const cases[] = {
        {"long.zst", longWindow, 100 << 20, 0, beyond},
        {"after-frames.zst", first + padding + longWindow, 100 << 20, 0, beyond},
        {"within-the-limit.zst", longWindow, 256 << 20, 0, "read without error"},
        {"xz.xz", compressed(Xz, "x"), 1 << 20, 0,
         "xz data that needs 9 MiB of memory to decompress, more than the limit of 1 MiB"},
        // The window is within the limit, the address space is not.
        {"no-room.zst", zstdFrameWithWindow(31, "x"), StoredInput::DefaultDecoderMemory, 64 << 20,
         "out of memory: cannot allocate the 2049 MiB that zstd data needs to decompress"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        if (c.headroom > 0 && !addressSpaceLimitsWork()) continue;
        writeFile(dir.path(c.name), c.bytes);
        EXPECT_EQ(refusalOf(dir.path(c.name), c.decoderMemory, c.headroom), c.refusal) << c.name;
    }
}

}  // namespace
