// The count file's format, written and read here and nowhere else.
//
// Each entry is its text, ';', the count in decimal and CR LF; an LF inside
// the text also goes out as CR LF, every other byte as it is. Texts are not
// escaped, so a reader splits the file into lines at LF (a last line without
// LF ends at the end of the data), and a line is an entry when it holds a
// ';' and the text after its LAST ';' starts with a number: optional white
// space, at most one sign, at least one digit. The number ends at the first
// byte that is not a digit, as atoi ends it: the CR of the line end, or
// anything else ("5x" counts 5). A line that is not an entry is the front
// part of the next entry's text, cut off by an LF inside that text.
//
// So a text that holds ';' and digits right before an LF of its own
// ("a;12" LF "b") reads as an extra entry; no rule can tell it apart from a
// real one.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/file_io.h"
#include "common/number_text.h"
#include "common/output_file.h"

// Writes one entry.
void writeCountEntry(OutputFile& file, std::string_view text, std::int64_t count);

enum class LineKind { NotAnEntry, Entry, CountTooLarge };

// Classifies one line (its bytes without the LF); for an entry, sets count.
inline LineKind classifyCountLine(std::string_view line, std::int64_t& count) {
    std::size_t separator = line.rfind(';');
    if (separator == std::string_view::npos) return LineKind::NotAnEntry;
    LeadingInteger number = scanLeadingInteger(line.substr(separator + 1));
    if (!number.hasDigits) return LineKind::NotAnEntry;
    if (!number.value) return LineKind::CountTooLarge;
    count = *number.value;
    return LineKind::Entry;
}
