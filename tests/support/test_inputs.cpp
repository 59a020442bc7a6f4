#include "tests/support/test_inputs.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>

#include "common/output_file.h"
#include "formats/count_file.h"
#include "formats/count_lines.h"
#include "tests/support/run_program.h"

std::string randomBytes(std::string_view alphabet, std::size_t length, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(length, ' ');
    for (char& byte : bytes) byte = alphabet[generator() % alphabet.size()];
    return bytes;
}

ExactBuffer::ExactBuffer(std::string_view bytes) : bytes_(new char[bytes.size()]), size_(bytes.size()) {
    if (!bytes.empty()) std::memcpy(bytes_.get(), bytes.data(), bytes.size());
}

Counts everyWindow(const std::string& bytes, int n, std::size_t windows) {
    Counts counts;
    auto length = static_cast<std::size_t>(n);
    for (std::size_t p = 0; p < windows && p + length <= bytes.size(); ++p) {
        std::string window = bytes.substr(p, length);
        ++counts[window.substr(0, window.find('\0'))];
    }
    return counts;
}

std::string writtenEntries(const std::vector<std::pair<std::string, std::int64_t>>& entries) {
    TempDir dir;
    OutputFile file(dir.path("counts"));
    // Blocks of the least room, so that entries cross them.
    OutputFileSink sink(file);
    CountLines lines(sink, 0);
    for (const auto& [text, count] : entries) lines.add(text, count);
    lines.finish();
    file.close();
    return readFile(dir.path("counts"));
}

std::string countFileOf(const Counts& table) { return writtenEntries({table.begin(), table.end()}); }

EntryList awkwardEntries(std::size_t entries, unsigned seed) {
    std::mt19937 generator(seed);
    Counts table;
    while (table.size() < entries) {
        std::string text = randomBytes("ab;\n\r \xE9\xFF", generator() % 8, generator());
        unsigned kind = generator() % 100;
        std::int64_t count = kind < 80   ? 1 + generator() % 3
                             : kind < 97 ? generator() % 5'000'000
                                         : -static_cast<std::int64_t>(generator() % 1000);
        table.emplace(std::move(text), count);
    }
    return {table.begin(), table.end()};
}

std::vector<std::int64_t> countsReadFor(const std::string& text, std::int64_t count) {
    std::vector<std::int64_t> counts;
    std::size_t start = 0;
    for (std::size_t lineFeed; (lineFeed = text.find('\n', start)) != std::string::npos;
         start = lineFeed + 1) {
        // The writer turns this LF into CR LF: the line ends in a CR.
        std::string line = text.substr(start, lineFeed - start) + "\r";
        std::size_t separator = line.rfind(';');
        if (separator == std::string::npos) continue;
        const char* countText = line.c_str() + separator + 1;
        char* end = nullptr;
        errno = 0;
        long long value = std::strtoll(countText, &end, 10);
        if (errno == ERANGE) throw std::runtime_error("a count beyond 64 bits in: " + line);
        if (end != countText) counts.push_back(value);
    }
    counts.push_back(count);
    return counts;
}

std::vector<std::int64_t> countsReadFor(const Counts& table) {
    std::vector<std::int64_t> counts;
    for (const auto& [text, count] : table) {
        auto read = countsReadFor(text, count);
        counts.insert(counts.end(), read.begin(), read.end());
    }
    return counts;
}
