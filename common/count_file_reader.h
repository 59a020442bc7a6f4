// Reading a count file: the one rule both readers use to find the entries
// that tallomer wrote.
//
// The writer puts out each entry as its text, ';', the count and CR LF, and
// an LF inside the text also goes out as CR LF. So the file is split into
// lines at LF (a last line without LF ends at the end of the data), and a
// line is an entry when it holds a ';' and the text after its LAST ';' starts
// with a number: optional white space, at most one sign, at least one digit.
// The number ends at the first byte that is not a digit, as atoi ends it:
// the CR of the line end, or anything else ("5x" counts 5). A line that is
// not an entry is the front part of the next entry's text, cut off by an LF
// inside that text, and is skipped.
//
// Texts are not escaped, so a text that holds ';' and digits right before
// an LF of its own ("a;12" LF "b") reads as an extra entry; no rule can tell
// it apart from a real one.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "number_text.h"

enum class LineKind { NotAnEntry, Entry, CountTooLarge };

// Classifies one line (its bytes without the LF); for an entry, sets count.
inline LineKind readCountLine(std::string_view line, std::int64_t& count) {
    std::size_t separator = line.rfind(';');
    if (separator == std::string_view::npos) return LineKind::NotAnEntry;
    std::string_view text = line.substr(separator + 1);
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (i == text.size() || text[i] < '0' || text[i] > '9') return LineKind::NotAnEntry;
    auto value = parseLeadingInteger(text);
    if (!value) return LineKind::CountTooLarge;
    count = *value;
    return LineKind::Entry;
}

// Throws IoError for the path: the count on the line that starts at `line`
// does not fit in 64 bits. The line number is worked out only here.
[[noreturn]] void failCountTooLarge(const std::string& path, std::string_view data, const char* line);

// Calls takeCount(count) for every entry of the count file held in `data`,
// in file order, in one pass and without copying. Reads nothing outside the
// data. Throws IoError naming the path and the line for a count that does
// not fit in 64 bits.
template <typename TakeCount>
void forEachCount(std::string_view data, const std::string& path, TakeCount takeCount) {
    const char* line = data.data();
    const char* end = line + data.size();
    while (line < end) {
        const void* lineFeed = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
        const char* lineEnd = lineFeed ? static_cast<const char*>(lineFeed) : end;
        std::int64_t count;
        switch (readCountLine(std::string_view(line, static_cast<std::size_t>(lineEnd - line)), count)) {
            case LineKind::Entry:
                takeCount(count);
                break;
            case LineKind::NotAnEntry:
                break;
            case LineKind::CountTooLarge:
                failCountTooLarge(path, data, line);
        }
        if (lineEnd == end) break;
        line = lineEnd + 1;
    }
}
