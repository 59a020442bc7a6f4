#include "tests/support/written_counts.h"

#include <cerrno>
#include <cstdlib>
#include <random>
#include <stdexcept>

std::string randomText(const std::string& alphabet, std::size_t length, unsigned seed) {
    std::mt19937 generator(seed);
    std::string text(length, ' ');
    for (char& byte : text) byte = alphabet[generator() % alphabet.size()];
    return text;
}

std::map<std::string, std::int64_t> characterWindows(const std::string& text, int n) {
    std::map<std::string, std::int64_t> windows;
    for (std::size_t start = 0; start + n <= text.size(); ++start) ++windows[text.substr(start, n)];
    return windows;
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

std::vector<std::int64_t> countsReadFor(const std::map<std::string, std::int64_t>& table) {
    std::vector<std::int64_t> counts;
    for (const auto& [text, count] : table) {
        auto read = countsReadFor(text, count);
        counts.insert(counts.end(), read.begin(), read.end());
    }
    return counts;
}
