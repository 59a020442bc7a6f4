#include "formats/count_file.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "common/output_file.h"

namespace {

// Copies a text of at most `limit` bytes that holds no LF into `line`, eight
// bytes a step; false, with nothing meant to be kept, if it is longer or
// holds an LF.
bool copyPlainText(std::string_view text, char* line, std::size_t limit) {
    if (text.size() > limit) return false;
    constexpr std::uint64_t Ones = 0x0101010101010101u, LineFeeds = Ones * '\n';
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        std::uint64_t x = word ^ LineFeeds;
        if (((x - Ones) & ~x & (Ones << 7)) != 0) return false;
        std::memcpy(line + i, &word, 8);
    }
    for (; i < text.size(); ++i) {
        if (text[i] == '\n') return false;
        line[i] = text[i];
    }
    return true;
}

}  // namespace

void writeCountEntry(OutputFile& file, std::string_view text, std::int64_t count) {
    // Most entries are short texts without LF: formatted straight into the
    // file's buffer.
    constexpr std::size_t ShortText = 64, LongestLine = ShortText + 24;
    char* line = file.room(LongestLine);
    if (copyPlainText(text, line, ShortText)) {
        char* end = line + text.size();
        *end++ = ';';
        // Most n-grams of a large corpus occur fewer than ten times.
        if (count >= 0 && count < 10)
            *end++ = static_cast<char>('0' + count);
        else
            end = std::to_chars(end, line + LongestLine, count).ptr;
        *end++ = '\r';
        *end++ = '\n';
        file.commit(static_cast<std::size_t>(end - line));
        return;
    }
    file.writeText(text);
    file.write(';');
    file.writeDecimal(count);
    file.writeLineEnd();
}
