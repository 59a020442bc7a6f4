// What tallomer's table holds for a character-mode input, worked out here
// independently, and what a reader of its count file must find in it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// `length` bytes drawn from `alphabet` by a fixed-seed generator.
std::string randomText(const std::string& alphabet, std::size_t length, unsigned seed);

// Every window of n bytes of the text, with its number of occurrences (the
// text holds no NUL).
std::map<std::string, std::int64_t> characterWindows(const std::string& text, int n);

// The counts a reader finds for one entry as the writer writes it: one for
// every LF-ended part of the text that holds ';' followed by a number (the
// strtoll way), then the entry's own count.
std::vector<std::int64_t> countsReadFor(const std::string& text, std::int64_t count);

// countsReadFor over the whole table, in the table's order.
std::vector<std::int64_t> countsReadFor(const std::map<std::string, std::int64_t>& table);
