// The word scan alone, without the count table: how fast word n-grams are
// found and their texts handed on, which bounds word mode however fast the
// table counts.
//
// Usage: word_scan N INPUT
// Reads INPUT chunk by chunk as tallomer does and scans each chunk; only the
// scans are timed. Prints the MB/s of input scanned, the texts found and
// their bytes (which also keeps the scan from being optimised away).
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include "common/file_io.h"
#include "common/report.h"
#include "counting/chunked_input.h"
#include "counting/word_ngrams.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: word_scan N INPUT\n";
        return 1;
    }
    auto n = static_cast<std::int32_t>(std::atoi(argv[1]));
    try {
        InputFile input(argv[2]);
        ChunkPlan plan = planChunks(input.size(), ChunkSize);
        ByteBuffer chunk = allocateBytes(plan.length(0));
        std::int64_t texts = 0, textBytes = 0;
        auto sink = [&](const std::string_view* run, std::size_t count) {
            texts += static_cast<std::int64_t>(count);
            for (std::size_t i = 0; i < count; ++i) textBytes += static_cast<std::int64_t>(run[i].size());
        };
        std::chrono::steady_clock::duration scanning{};
        for (std::int64_t k = 0; k < plan.count; ++k) {
            input.readAt(plan.start(k), chunk.data(), plan.length(k));
            auto start = std::chrono::steady_clock::now();
            scanWordNGrams(chunk.data(), plan.length(k), n, CountingConsole(), sink);
            scanning += std::chrono::steady_clock::now() - start;
        }
        double seconds = std::chrono::duration<double>(scanning).count();
        std::cout << "word scan w " << n << ": " << static_cast<double>(input.size()) / 1e6 / seconds
                  << " MB/s (" << seconds << " s), " << texts << " texts, " << textBytes << " text bytes\n";
    } catch (const IoError& error) {
        reportFailure("word_scan", error.path, error.what());
        return 2;
    }
    return 0;
}
