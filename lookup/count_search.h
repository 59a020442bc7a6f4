// The count of an n-gram looked up in a count file by a binary search over
// its bytes, which hold the entries in ascending byte order of their texts.
#pragma once

#include <cstdint>
#include <string_view>

#include "formats/entry_locator.h"

// Where the search stops halving: the entries of about 16 KiB are read
// one by one, in a read or a few.
inline constexpr std::int64_t ScanBytes = 16 << 10;

// The count of the entry whose text is `ngram`, 0 when there is none. A few
// reads of the file: the search halves the bytes where the entry may lie
// down to `scanBytes`, jumping from the middle to the next entry start
// (EntryLocator), then reads every entry there and the two after. Each
// entry read is checked against those read before it: a pair out of order
// (or a text twice) throws IoError "not in order", so a file that is not
// sorted gives an error where a search sees it, and around the n-gram's
// place it sees every entry, not a wrong count. An entry far from its
// place, though, is not seen by a search for it, which finds 0. Throws
// IoError, too, when the file cannot be read or a count read does not fit
// in 64 bits.
std::int64_t searchCount(EntryLocator& file, std::string_view ngram, std::int64_t scanBytes = ScanBytes);
