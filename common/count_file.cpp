#include "common/count_file.h"

#include <algorithm>
#include <charconv>

void writeCountEntry(OutputFile& file, std::string_view text, std::int64_t count) {
    // Most entries are short texts without LF: put together here, they go to
    // the file with one call.
    constexpr std::size_t ShortText = 64;
    if (text.size() <= ShortText && text.find('\n') == std::string_view::npos) {
        char line[ShortText + 24];
        char* end = std::copy(text.begin(), text.end(), line);
        *end++ = ';';
        end = std::to_chars(end, line + sizeof line, count).ptr;
        *end++ = '\r';
        *end++ = '\n';
        file.write(std::string_view(line, static_cast<std::size_t>(end - line)));
        return;
    }
    file.writeText(text);
    file.write(';');
    file.writeDecimal(count);
    file.writeLineEnd();
}
