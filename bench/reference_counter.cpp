// The yardstick for tallomer's speed: n-gram counting the straightforward way,
// with std::unordered_map<std::string, std::int64_t>.
//
// Usage: reference_counter MODE N INPUT OUTPUT [MAX_BYTES]
//   c: every window of N bytes of the input (a window's text ends at its
//      first NUL), as tallomer counts them;
//   w: words are the runs of bytes between the separators space, '!', ',',
//      '.', '?'; every run of N consecutive words, joined by single spaces.
//      This is simpler than tallomer's word scanner (which skips words of 18
//      bytes or more and the first word of a chunk), so its counts differ.
// The input is read whole (or its first MAX_BYTES bytes). The count file is
// written like tallomer's: "text;count" and CR LF per distinct n-gram.
// Prints the number of distinct n-grams and the bytes counted.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/shown_path.h"

namespace {

bool isSeparator(char c) { return c == ' ' || c == '!' || c == ',' || c == '.' || c == '?'; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::cerr << "usage: reference_counter c|w N INPUT OUTPUT [MAX_BYTES]\n";
        return 1;
    }
    char mode = argv[1][0];
    std::size_t n = std::strtoull(argv[2], nullptr, 10);
    std::ifstream input(argv[3], std::ios::binary | std::ios::ate);
    std::size_t size = input ? static_cast<std::size_t>(input.tellg()) : 0;
    if (argc == 6) size = std::min<std::size_t>(size, std::strtoull(argv[5], nullptr, 10));
    std::string text(size, '\0');
    if (!input.seekg(0) || !input.read(text.data(), static_cast<std::streamsize>(size))) {
        std::cerr << shownPath(argv[3]) << ": cannot read\n";
        return 2;
    }

    std::unordered_map<std::string, std::int64_t> counts;
    if (mode == 'c') {
        for (std::size_t p = 0; p + n <= text.size(); ++p) {
            std::string_view window(text.data() + p, n);
            ++counts[std::string(window.substr(0, window.find('\0')))];  // the text ends at a NUL
        }
    } else {
        std::deque<std::string> words;
        std::size_t p = 0;
        while (p < text.size()) {
            while (p < text.size() && isSeparator(text[p])) ++p;
            std::size_t start = p;
            while (p < text.size() && !isSeparator(text[p])) ++p;
            if (p == start) break;
            words.push_back(text.substr(start, p - start));
            if (words.size() > n) words.pop_front();
            if (words.size() == n) {
                std::string ngram = words[0];
                for (std::size_t i = 1; i < n; ++i) ngram += ' ' + words[i];
                ++counts[ngram];
            }
        }
    }

    std::ofstream output(argv[4], std::ios::binary);
    for (const auto& [ngram, count] : counts) {
        for (char c : ngram) {
            if (c == '\n') output << '\r';
            output << c;
        }
        output << ';' << count << "\r\n";
    }
    output.close();
    if (!output) {
        std::cerr << shownPath(argv[4]) << ": cannot write\n";
        return 2;
    }
    std::cout << "distinct " << counts.size() << "\nbytes " << text.size() << "\n";
    return 0;
}
