#include "counting/sorted_table.h"

#include <algorithm>
#include <vector>

#include "counting/big_endian_key.h"
#include "counting/table_sort.h"

// Long texts are read from the arena in text order, which is not the
// arena's, so nearly every record misses the cache and the TLB. A prefetch
// that misses the TLB holds up the instructions behind it until its page
// walk is done: fetched one per text among the merge's work, the walks
// hardly overlap; fetched in a burst, they do. Inlined: out of line, the
// compiler finds that it has no effect and drops its calls.
[[gnu::always_inline]] inline void SortedTable::fetchRecords(std::uint64_t from) const {
    std::uint64_t to = std::min(from + RecordBurst, table_.longTexts.size);
    for (std::uint64_t i = from; i < to; ++i) {
        const char* record = table_.longTexts.arena.bytes + (longEntries(table_)[i].ref & OffsetMask);
        __builtin_prefetch(record);
        __builtin_prefetch(record + 63);
    }
}

SortedTable::SortedTable(WordTable& table) : table_(table) {
    sortInPlace(table);
    fetchRecords(0);
    for (int part = 0; part < Parts; ++part) decode(part);
}

namespace {

// The sorted table's slot arrays: short, medium and long texts.
constexpr int SortedParts = 3;

std::uint64_t sizeOf(const WordTable& table, int part) {
    return part == 0 ? table.shortTexts.size : part == 1 ? table.mediumTexts.size : table.longTexts.size;
}

// The text of entry i of a sorted slot array; `text` holds short and medium
// ones.
std::string_view sortedText(const WordTable& table, int part, std::uint64_t i, char (&text)[16]) {
    if (part == 0) return {text, BigEndianWords<1>::text(table.shortTexts.slots[i].key.words, text)};
    if (part == 1) return {text, BigEndianWords<2>::text(table.mediumTexts.slots[i].key.words, text)};
    return table.longTexts.arena.text(longEntries(table)[i].ref & OffsetMask);
}

}  // namespace

void sampleSortedTable(WordTable& table, std::size_t perArray, std::vector<WeightedText>& texts) {
    sortInPlace(table);
    char text[16];
    for (int part = 0; part < SortedParts; ++part) {
        std::uint64_t size = sizeOf(table, part);
        std::uint64_t stride = std::max<std::uint64_t>(size / perArray, 1);
        for (std::uint64_t i = 0; i < size; i += stride)
            texts.push_back({std::string(sortedText(table, part, i, text)),
                             static_cast<std::int64_t>(std::min(stride, size - i))});
    }
}

void SortedTable::skipTowards(std::string_view from) {
    if (from.empty()) return;
    emptyDone_ = true;  // the empty text is below every other
    char text[16];
    for (int part = 0; part < Parts; ++part) {
        std::uint64_t low = 0, high = sizeOf(table_, part);
        while (low < high) {
            std::uint64_t middle = low + (high - low) / 2;
            if (sortedText(table_, part, middle, text) < from)
                low = middle + 1;
            else
                high = middle;
        }
        position_[part] = low;
    }
    fetchRecords(position_[2]);
    for (int part = 0; part < Parts; ++part) decode(part);
}

bool SortedTable::next() {
    if (!emptyDone_) {
        emptyDone_ = true;
        if (table_.emptyTextCount > 0) {
            text_ = {};
            count_ = table_.emptyTextCount;
            return true;
        }
    }
    if (taken_ >= 0) {
        ++position_[taken_];
        decode(taken_);
    }
    taken_ = -1;
    for (int part = 0; part < Parts; ++part)
        if (has_[part] && (taken_ < 0 || leading_[part] < leading_[taken_])) taken_ = part;
    if (taken_ < 0) return false;
    text_ = leading_[taken_];
    count_ = countAt(taken_);
    return true;
}

std::int64_t SortedTable::countAt(int part) const {
    std::uint64_t i = position_[part];
    if (part == 0) return table_.shortTexts.slots[i].count;
    if (part == 1) return table_.mediumTexts.slots[i].count;
    return table_.longTexts.arena.count(longEntries(table_)[i].ref & OffsetMask);
}

void SortedTable::decode(int part) {
    std::uint64_t i = position_[part];
    if (part == 0) {
        has_[0] = i < table_.shortTexts.size;
        if (has_[0])
            leading_[0] = {shortText_,
                           BigEndianWords<1>::text(table_.shortTexts.slots[i].key.words, shortText_)};
    } else if (part == 1) {
        has_[1] = i < table_.mediumTexts.size;
        if (has_[1])
            leading_[1] = {mediumText_,
                           BigEndianWords<2>::text(table_.mediumTexts.slots[i].key.words, mediumText_)};
    } else {
        has_[2] = i < table_.longTexts.size;
        if (!has_[2]) return;
        if (i % RecordBurst == 0) fetchRecords(i + RecordBurst);
        leading_[2] = table_.longTexts.arena.text(longEntries(table_)[i].ref & OffsetMask);
    }
}
