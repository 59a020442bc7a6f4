// What the word tests share: the texts a chunk scan hands on, built the
// plain way for comparison, and bytes that make words fail.
#pragma once

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "counting/chunked_input.h"
#include "counting/word_chunk.h"
#include "counting/word_ngrams.h"
#include "tests/counting/table_contents.h"
#include "tests/support/run_program.h"
#include "tests/support/table_for_tests.h"

namespace word_texts {

using namespace std::string_literals;
using Texts = std::vector<std::string>;
// k distinct-looking word bytes.
inline std::string letters(int k) {
    std::string text;
    for (int i = 0; i < k; ++i) text += static_cast<char>('a' + i % 26);
    return text;
}

// The texts the chunk scan counts, in order.
inline Texts scanTexts(std::string_view bytes, std::int32_t n, std::string* dots = nullptr) {
    ExactBuffer chunk(bytes);
    Texts texts;
    std::ostringstream progress;
    scanWordNGrams(
        chunk.data(), chunk.size(), n, PrintedConsole(progress),
        [&](const std::string_view* run, std::size_t count) { texts.insert(texts.end(), run, run + count); });
    if (dots) *dots = progress.str();
    return texts;
}

// The chunk scan in its plain form: every n-gram built afresh from its start,
// and a dot tested at every visited position.
inline Texts referenceTexts(std::string_view bytes, std::int32_t n, std::string* dots = nullptr) {
    ExactBuffer chunk(bytes);
    Texts texts;
    std::string text;
    for (std::int64_t p = 0; p < chunk.size() - std::int64_t{n} * WordMargin;) {
        if (dots && n == 1 && p % ProgressInterval < 5) *dots += '.';
        std::int32_t end = buildWordNGram(chunk.data(), static_cast<std::int32_t>(p), n, text);
        if (end == 0) {
            ++p;
        } else {
            texts.push_back(text);
            p = end;
        }
    }
    return texts;
}

inline Counts countedByScanWordChunk(std::string_view bytes, std::int32_t n) {
    ExactBuffer chunk(bytes);
    NGramCountTable table(NoLimits);
    std::ostringstream progress;
    scanWordChunk(table, chunk.data(), chunk.size(), n, PrintedConsole(progress));
    return tableContents(table);
}

inline Counts tally(const Texts& texts) {
    Counts counts;
    for (const auto& text : texts) ++counts[text];
    return counts;
}

// Separator-heavy bytes with NUL, CR, LF and occasional long words: the
// cases where words fail, are empty or are cut.
inline std::string randomChunk(std::mt19937& random, std::size_t length) {
    const std::string separators = " !,.?";
    std::string bytes;
    while (bytes.size() < length) {
        switch (random() % 16) {
            case 0:
            case 1:
            case 2:
            case 3:
            case 4:
                bytes += separators[random() % separators.size()];
                break;
            case 5:
                bytes += '\0';
                break;
            case 6:
                bytes += "\r\n";
                break;
            case 7:
                bytes += '\n';
                break;
            case 8:
                bytes += std::string(15 + random() % 16, 'q');
                break;
            default:
                bytes += "ab\xE9"[random() % 3];
                break;
        }
    }
    bytes.resize(length);
    return bytes;
}

}  // namespace word_texts
