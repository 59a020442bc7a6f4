// Character windows over arbitrary bytes, chunk sizes and N: every window of
// the input is counted exactly once, whatever the chunking, and no byte
// outside a chunk's buffer is touched (each buffer ends where its
// allocation ends, so AddressSanitizer sees any overread).
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "counting/character_ngrams.h"
#include "counting/chunked_input.h"
#include "tests/support/table_for_tests.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return 0;
    int n = bytes[0] % 19 + 1;
    std::int64_t chunkSize = bytes[1] % 64 + 1;
    std::string text(reinterpret_cast<const char*>(bytes) + 2, size - 2);
    std::int64_t length = static_cast<std::int64_t>(text.size());

    NGramCountTable table({std::int64_t{1} << 40, "/tmp"});
    ChunkPlan plan = planChunks(length, chunkSize);
    CharacterScanner scanner(table);
    for (std::int64_t k = 0; k < plan.count; ++k) {
        std::int64_t available = plan.readLength(k, n - 1);
        std::unique_ptr<char[]> chunk(new char[static_cast<std::size_t>(available)]);
        std::memcpy(chunk.get(), text.data() + plan.start(k), static_cast<std::size_t>(available));
        scanner.scanChunk(chunk.get(), plan.length(k), available, n, CountingConsole());
    }
    scanner.finish();

    std::map<std::string, std::int64_t> expected;
    for (std::int64_t p = 0; p + n <= length; ++p) {
        std::string window = text.substr(static_cast<std::size_t>(p), static_cast<std::size_t>(n));
        ++expected[window.substr(0, window.find('\0'))];
    }
    std::map<std::string, std::int64_t> counted;
    forEachNGram(table, [&](std::string_view t, std::int64_t count) {
        if (t.size() > static_cast<std::size_t>(n) || t.find('\0') != std::string_view::npos)
            __builtin_trap();
        if (!counted.emplace(std::string(t), count).second) __builtin_trap();  // one entry per text
    });
    if (counted != expected) __builtin_trap();
    return 0;
}
