// Reads a corpus through StoredInput as tallomer-part would and prints the
// rate of its decompressed bytes, for comparison with the command-line
// decompressors (bench/decompress.sh).
//   read_stored FILE [READ_BYTES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/report.h"
#include "input/stored_input.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: read_stored FILE [READ_BYTES]\n");
        return 1;
    }
    std::size_t readBytes = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : std::size_t{100'000'000};
    std::unique_ptr<char[]> buffer(new char[readBytes]);
    // A program reuses its buffer for the whole corpus: its pages are
    // mapped once, before the clock starts (in a virtual machine that is a
    // third of a second for 100 MB).
    std::memset(buffer.get(), 0, readBytes);
    try {
        auto start = std::chrono::steady_clock::now();
        StoredInput input(argv[1]);
        std::int64_t total = 0;
        while (std::size_t got = input.read(buffer.get(), readBytes)) total += static_cast<std::int64_t>(got);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s %lld bytes from %lld stored, %.3f s, %.1f MB/s\n",
                    compressionName(input.compression()), static_cast<long long>(total),
                    static_cast<long long>(input.storedBytesRead()), seconds,
                    static_cast<double>(total) / seconds / 1e6);
    } catch (const IoError& error) {
        reportFailure("read_stored", error.path, error.what());
        return 2;
    }
}
