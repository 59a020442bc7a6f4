// Writes the benchmark corpus: words drawn from a Zipf(1.0) distribution over
// 2,000,000 word types of 1 to 12 ISO-8859-2 letters (or, with `long`, of 1
// to 17 letters in the lengths of a real language's dictionary, where most
// word 3-grams are longer than 16 bytes), separated by single
// spaces, with ", ", ". ", "! " or "? " every few words and CR LF after about
// 12 words. The same size always gives the same bytes: every random number
// comes from a fixed-seed generator defined here, not from the standard
// distributions, whose algorithms differ between libraries.
//
// Usage: generate_corpus BYTES OUTPUT [long]
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/shown_path.h"

namespace {

constexpr std::size_t WordTypes = 2'000'000;
constexpr std::uint64_t Seed = 20240611;

// splitmix64: small, fast and fully specified.
struct Random {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    // Uniform in [0, bound).
    std::uint64_t below(std::uint64_t bound) { return next() % bound; }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

// ISO-8859-2 letters beyond ASCII.
const std::string AccentedLower =
    "\xB1\xB3\xB5\xB6\xB9\xBA\xBB\xBC\xBE\xBF\xDF\xE0\xE1\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9\xEA\xEB\xEC"
    "\xED\xEE\xEF\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF8\xF9\xFA\xFB\xFC\xFD\xFE";
const std::string AccentedUpper =
    "\xA1\xA3\xA5\xA6\xA9\xAA\xAB\xAC\xAE\xAF\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD"
    "\xCE\xCF\xD0\xD1\xD2\xD3\xD4\xD5\xD6\xD8\xD9\xDA\xDB\xDC\xDD\xDE";

char lowerLetter(Random& random) {
    if (random.below(100) < 92) return static_cast<char>('a' + random.below(26));
    return AccentedLower[random.below(AccentedLower.size())];
}

char upperLetter(Random& random) {
    if (random.below(100) < 75) return static_cast<char>('A' + random.below(26));
    return AccentedUpper[random.below(AccentedUpper.size())];
}

// The share in thousandths of each length from 1 to 17 letters among the
// types of a large dictionary of an inflected language: most of 7 to 11.
constexpr int DictionaryLengths[17] = {2, 6, 18, 38, 62, 88, 112, 124, 122, 110, 92, 72, 54, 40, 28, 18, 14};

std::size_t dictionaryLength(Random& random) {
    std::uint64_t u = random.below(1000);
    std::size_t length = 1;
    for (int share : DictionaryLengths) {
        if (u < static_cast<std::uint64_t>(share)) break;
        u -= static_cast<std::uint64_t>(share);
        ++length;
    }
    return std::min<std::size_t>(length, 17);
}

// Distinct types of 1 to 12 letters, most of 5 to 8 (or dictionary lengths);
// about one in ten begins with a capital, and one in two hundred is all
// capitals.
std::vector<std::string> makeWordTypes(Random& random, bool dictionary) {
    std::vector<std::string> types;
    types.reserve(WordTypes);
    std::unordered_set<std::string> seen;
    seen.reserve(WordTypes * 2);
    while (types.size() < WordTypes) {
        std::size_t length = dictionary ? dictionaryLength(random) : 1 + random.below(6) + random.below(7);
        std::uint64_t shape = random.below(200);
        std::string word;
        for (std::size_t i = 0; i < length; ++i) {
            bool upper = shape == 0 || (shape < 20 && i == 0);
            word += upper ? upperLetter(random) : lowerLetter(random);
        }
        if (seen.insert(word).second) types.push_back(std::move(word));
    }
    return types;
}

// Cumulative Zipf(1.0) weights: type r (from 0) has weight 1 / (r + 1).
std::vector<double> zipfCumulative() {
    std::vector<double> cumulative(WordTypes);
    double sum = 0;
    for (std::size_t r = 0; r < WordTypes; ++r) cumulative[r] = sum += 1.0 / static_cast<double>(r + 1);
    for (double& c : cumulative) c /= sum;
    return cumulative;
}

}  // namespace

int main(int argc, char** argv) {
    bool dictionary = argc == 4 && std::string(argv[3]) == "long";
    if (argc != 3 && !dictionary) {
        std::fprintf(stderr, "usage: generate_corpus BYTES OUTPUT [long]\n");
        return 1;
    }
    std::uint64_t bytes = std::strtoull(argv[1], nullptr, 10);
    Random random{Seed};
    std::vector<std::string> types = makeWordTypes(random, dictionary);
    std::vector<double> cumulative = zipfCumulative();

    std::string text;
    text.reserve(bytes + 64);
    std::uint64_t lineWords = 8 + random.below(9);
    while (text.size() < bytes) {
        double u = random.unit();
        std::size_t rank = std::upper_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin();
        text += types[std::min(rank, WordTypes - 1)];
        std::uint64_t mark = random.below(100);
        if (mark < 9)
            text += ',';
        else if (mark < 15)
            text += '.';
        else if (mark < 16)
            text += '!';
        else if (mark < 17)
            text += '?';
        if (--lineWords == 0) {
            text += "\r\n";
            lineWords = 8 + random.below(9);
        } else {
            text += ' ';
        }
    }
    text.resize(bytes);

    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "%s: %s\n", shownPath(argv[2]).c_str(), std::strerror(errno));
        return 2;
    }
    return 0;
}
