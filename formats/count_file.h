// The count file's format, written (formats/count_lines.h) and read here
// and nowhere else.
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

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "common/file_io.h"
#include "common/number_text.h"
#include "common/output_file.h"

namespace count_file_detail {

// Copies a text that holds no LF into `line`, eight bytes a step; false,
// with nothing meant to be kept, if it holds an LF.
inline bool copyPlainText(std::string_view text, char* line) {
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

inline constexpr char DigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// A count in decimal at `to`, at most 20 bytes; returns its end. Most
// n-grams of a large corpus occur fewer than a hundred times.
inline char* putCount(char* to, std::int64_t count) {
    if (count >= 0 && count < 10) {
        *to = static_cast<char>('0' + count);
        return to + 1;
    }
    if (count >= 10 && count < 100) {
        std::memcpy(to, DigitPairs + 2 * count, 2);
        return to + 2;
    }
    return std::to_chars(to, to + 20, count).ptr;
}

}  // namespace count_file_detail

// The texts of at most this many bytes are formatted in one step.
inline constexpr std::size_t ShortCountText = 64;
// Room for the line of a short text, each byte an LF at worst.
inline constexpr std::size_t ShortCountLine = 2 * ShortCountText + 24;

// Formats the entry at `line`, which has ShortCountLine bytes of room, when
// its text is short; returns the line's end, or nullptr (with nothing meant
// to be kept) for a longer text.
inline char* formatShortEntry(char* line, std::string_view text, std::int64_t count) {
    if (text.size() > ShortCountText) return nullptr;
    char* end = line + text.size();
    if (!count_file_detail::copyPlainText(text, line)) [[unlikely]] {
        end = line;
        for (char byte : text) {
            if (byte == '\n') *end++ = '\r';
            *end++ = byte;
        }
    }
    *end = ';';
    end = count_file_detail::putCount(end + 1, count);
    end[0] = '\r';
    end[1] = '\n';
    return end + 2;
}

enum class LineKind { NotAnEntry, Entry, CountTooLarge };

// Classifies one line (its bytes without the LF); for an entry, sets count.
inline LineKind classifyCountLine(std::string_view line, std::int64_t& count) {
    // The line as the writer ends an entry, ';', up to 18 digits and CR, is
    // read from its end: that ';' is the last, and its digits are the count.
    // Every other line goes the general way below, with the same answer.
    const char* begin = line.data();
    const char* end = begin + line.size();
    if (end != begin && end[-1] == '\r') --end;
    const char* digits = end;
    while (digits != begin && end - digits < 18 && digits[-1] >= '0' && digits[-1] <= '9') --digits;
    if (digits != end && digits != begin && digits[-1] == ';') [[likely]] {
        std::int64_t value = 0;
        for (const char* digit = digits; digit != end; ++digit) value = value * 10 + (*digit - '0');
        count = value;
        return LineKind::Entry;
    }
    std::size_t separator = line.rfind(';');
    if (separator == std::string_view::npos) return LineKind::NotAnEntry;
    LeadingInteger number = scanLeadingInteger(line.substr(separator + 1));
    if (!number.hasDigits) return LineKind::NotAnEntry;
    if (!number.value) return LineKind::CountTooLarge;
    count = *number.value;
    return LineKind::Entry;
}

// The text of an entry from its bytes in the file: its lines, the last of
// them its entry line, whose LF may be left off. Each line before the entry
// line is a piece of the text that an LF ended, which the writer wrote as
// CR LF: its CR before the LF is dropped, so a line written without one
// reads the same. The entry line's piece ends at its last ';'. A text of one
// line is a view into `entry`; a longer one is put together in `scratch`.
inline std::string_view entryText(std::string_view entry, std::string& scratch) {
    if (!entry.empty() && entry.back() == '\n') entry.remove_suffix(1);
    std::size_t lastLineFeed = entry.rfind('\n');
    std::size_t entryLine = lastLineFeed == std::string_view::npos ? 0 : lastLineFeed + 1;
    std::string_view lastPiece = entry.substr(entryLine, entry.rfind(';') - entryLine);
    if (entryLine == 0) return lastPiece;
    scratch.clear();
    for (std::string_view lines = entry.substr(0, entryLine); !lines.empty();) {
        std::size_t lineFeed = lines.find('\n');
        std::string_view piece = lines.substr(0, lineFeed);
        if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
        scratch.append(piece).push_back('\n');
        lines.remove_prefix(lineFeed + 1);
    }
    return scratch.append(lastPiece);
}
