// The word table sorted where it lies: a table is thrown away once it has
// been written or spilled, so its slot arrays can hold its sorted entries
// and the sort touches no fresh pages (on this machine a fresh page costs
// more than sorting what it holds). counting/sorted_table.h reads it.
#pragma once

#include <cstdint>

#include "counting/word_table.h"

// Sorts the table's slot arrays, each in text order (`sorted`).
void sortInPlace(WordTable& table);
// The inverse, for a table that is counted into again after being read.
void hashAgain(WordTable& table);

// A long text's sorted entry: its first 8 bytes big-endian, then the next
// 3 above its arena offset (ref & OffsetMask). Entries fill the long slot
// array, which is doubled first if it holds fewer than
// SortSlotsPerLongEntry slots per entry; its rest is the sort's scratch.
struct LongEntry {
    std::uint64_t head;
    std::uint64_t ref;
};

// The long texts' entries of a sorted table, in text order.
inline const LongEntry* longEntries(const WordTable& table) {
    return reinterpret_cast<const LongEntry*>(table.longTexts.slots);
}
