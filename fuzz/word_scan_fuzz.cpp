// The word scanner over arbitrary chunks and N, each chunk ending where its
// allocation ends: every delivered word and n-gram keeps the scanner's
// promises, the fast scanner finds what the plain one finds, and the chunk
// scan (which reuses words) counts exactly what building every n-gram afresh
// counts.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "counting/word_ngrams.h"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

void checkWord(const Word& word) {
    require(word.length >= 0 && word.length <= LongestWord);
    for (char byte : word.text()) require(byte != '\0' && !isSeparator(static_cast<unsigned char>(byte)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 1) return 0;
    std::int32_t n = bytes[0] % 8 + 1;
    auto length = static_cast<std::int64_t>(size - 1);
    std::unique_ptr<char[]> chunk(new char[size - 1]);
    std::memcpy(chunk.get(), bytes + 1, size - 1);

    Word word;
    WordFinder finder(chunk.get(), length);
    auto sameWord = [&](const WordPlace& place) {
        return std::string_view(chunk.get() + place.offset, static_cast<std::size_t>(place.length)) ==
               word.text();
    };
    for (std::int32_t start = 0; start + WordScanLimit <= length; ++start) {
        std::int32_t end = extractWord(chunk.get(), start, word);
        require(end == 0 || (end >= start + 2 && end < start + WordScanLimit));
        if (end != 0) checkWord(word);
        // The fast scanners find the same word in place.
        WordPlace place, placeByFinder;
        require(findWord(chunk.get(), start, place) == end);
        require(finder.find(start, placeByFinder) == end);
        if (end != 0) require(sameWord(place) && sameWord(placeByFinder));
    }

    std::vector<std::string> reference;
    std::string text;
    for (std::int64_t p = 0; p < length - std::int64_t{n} * WordMargin;) {
        std::int32_t end = buildWordNGram(chunk.get(), static_cast<std::int32_t>(p), n, text);
        if (end == 0) {
            ++p;
            continue;
        }
        require(text.size() <= (LongestWord + 1) * static_cast<std::size_t>(n) - 1);
        reference.push_back(text);
        p = end;
    }

    std::vector<std::string> scanned;
    scanWordNGrams(chunk.get(), length, n, CountingConsole(),
                   [&](const std::string_view* run, std::size_t count) {
                       scanned.insert(scanned.end(), run, run + count);
                   });
    require(scanned == reference);
    return 0;
}
