// NGramCountTable: the one process-wide table from n-gram text to its number
// of occurrences, and the count file it is written to.
//
// Count file: one line per distinct text, "text;count" and CR LF, in no
// particular order. A text may itself hold ';', CR and LF (written as CR LF),
// so a line's count is the number after its LAST ';'.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

// Adds one occurrence of the text (bytes without NUL). The table keeps its
// own copy; the caller may reuse its buffer at once.
void addNGram(std::string_view text);

// Adds one occurrence of each text; the texts must stay valid during the
// call. A long run lets the table fetch the slots of later texts while it
// counts the earlier ones.
void addNGrams(const std::string_view* texts, std::size_t count);

// A text of at most 8 bytes can be handed over packed into an integer: its
// bytes from the low-order end on (the first byte lowest), the rest zero.
// Texts hold no NUL, so every text has its own key, and 0 is the empty text.
inline constexpr std::size_t MaxPackedLength = 8;
inline std::uint64_t packText(std::string_view text) {
    std::uint64_t key = 0;
    if (!text.empty()) std::memcpy(&key, text.data(), text.size());
    return key;
}

// Adds one occurrence of each packed text, fetching slots ahead like
// addNGrams.
void addPackedNGrams(const std::uint64_t* keys, std::size_t count);

// Adds `occurrences` (at least 1) of one packed text.
void addPackedNGram(std::uint64_t key, std::int64_t occurrences);

// Writes the whole table to the path; the old file there stays until the
// new one is complete. Throws IoError on any failure to create, write or
// close it.
void writeCountFile(const std::string& path);

// Inspection, for the tests. The hash lets a test build texts whose
// stored hash bits collide.
std::uint64_t hashNGramText(std::string_view text);
std::int64_t distinctNGrams();
void forEachNGram(const std::function<void(std::string_view text, std::int64_t count)>& visit);
void clearNGramCountTable();
