#include "formats/count_file.h"

#include "common/output_file.h"

void writeCountEntry(OutputFile& file, std::string_view text, std::int64_t count) {
    // Most entries are short texts without LF: formatted straight into the
    // file's buffer.
    char* line = file.room(ShortCountLine);
    if (char* end = formatShortEntry(line, text, count)) {
        file.commit(static_cast<std::size_t>(end - line));
        return;
    }
    file.writeText(text);
    file.write(';');
    file.writeDecimal(count);
    file.writeLineEnd();
}
