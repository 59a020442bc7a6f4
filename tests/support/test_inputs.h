// Inputs for the tests and what tallomer must count in them, worked out
// here independently of the program's code.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using Counts = std::map<std::string, std::int64_t>;

// `length` bytes drawn from `alphabet` by a fixed-seed generator.
std::string randomBytes(std::string_view alphabet, std::size_t length, unsigned seed);

// The bytes in an allocation of exactly their size, so that AddressSanitizer
// reports any read past their end.
class ExactBuffer {
public:
    explicit ExactBuffer(std::string_view bytes);
    const char* data() const { return bytes_.get(); }
    std::int64_t size() const { return static_cast<std::int64_t>(size_); }
    std::string_view view() const { return {bytes_.get(), size_}; }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_;
};

// The windows of n bytes that start before `windows` (all of them by
// default), each cut at its first NUL, with their numbers of occurrences.
Counts everyWindow(const std::string& bytes, int n, std::size_t windows = std::string::npos);

// The bytes the count-file writer writes for these entries, in this order.
std::string writtenEntries(const std::vector<std::pair<std::string, std::int64_t>>& entries);
// The count file of a table: its entries in the order of their texts.
std::string countFileOf(const Counts& table);

using EntryList = std::vector<std::pair<std::string, std::int64_t>>;

// `entries` distinct entries in the order of their texts, awkward for a
// reader: texts of 0 to 7 bytes holding LF, CR, ';', blanks and high bytes
// but no digit (so no line of a text reads as an entry), counts mostly 1 to
// 3 (many equal), some up to millions, a few 0 or negative.
EntryList awkwardEntries(std::size_t entries, unsigned seed);

// The counts a reader must find for one entry as the writer writes it: one
// for every LF-ended part of the text that holds ';' followed by a number
// (read the strtoll way, a second opinion on the reader's rule), then the
// entry's own count.
std::vector<std::int64_t> countsReadFor(const std::string& text, std::int64_t count);

// countsReadFor over the whole table, in the table's order.
std::vector<std::int64_t> countsReadFor(const Counts& table);
