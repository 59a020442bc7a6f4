// NGramCountTable: the one process-wide table from n-gram text to its number
// of occurrences, and the count file it is written to.
//
// Count file: one line per distinct text, "text;count" and CR LF, in no
// particular order. A text may itself hold ';', CR and LF (written as CR LF),
// so a line's count is the number after its LAST ';'.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Adds one occurrence of the text (bytes without NUL). The table keeps its
// own copy; the caller may reuse its buffer at once.
void addNGram(std::string_view text);

// Writes the whole table to the path, creating or truncating the file.
// Throws IoError on any failure to create, write or close it.
void writeCountFile(const std::string& path);

// Inspection, for the tests.
std::int64_t distinctNGrams();
void forEachNGram(const std::function<void(std::string_view text, std::int64_t count)>& visit);
void clearNGramCountTable();
