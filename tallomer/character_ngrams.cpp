#include "character_ngrams.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "ngram_count_table.h"

namespace {

std::string_view windowText(const char* window, int n) {
    const void* nul = std::memchr(window, '\0', static_cast<std::size_t>(n));
    auto length = nul ? static_cast<const char*>(nul) - window : n;
    return {window, static_cast<std::size_t>(length)};
}

}  // namespace

void scanCharacterChunk(const char* data, std::int64_t chunkLength, std::int64_t available, int n,
                        std::ostream& progress) {
    std::int64_t windows = std::min(chunkLength, available - n + 1);
    for (std::int64_t blockStart = 0; blockStart < windows; blockStart += ProgressInterval) {
        progress << '.';
        std::int64_t blockEnd = std::min(windows, blockStart + ProgressInterval);
        for (std::int64_t p = blockStart; p < blockEnd; ++p) addNGram(windowText(data + p, n));
    }
}
