#include "counting/table_sort.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "counting/big_endian_key.h"
#include "counting/radix_sort.h"

namespace {

// Packed slots are moved to the front of their array and their key words
// turned big-endian (zero padded: texts hold no NUL, so a text sorts before
// its extensions); the rest of the array is the sort's scratch.
template <std::size_t Words>
const std::uint64_t* wordsOf(const PackedSlot<Words>& slot) {
    return slot.key.words;
}

template <std::size_t Words>
void sortInPlace(PackedTable<Words>& table) {
    std::uint64_t n = 0;
    for (std::uint64_t i = 0; i < table.capacity; ++i) {
        if (table.slots[i].key.isFree()) continue;
        auto slot = table.slots[i];
        for (auto& word : slot.key.words) word = __builtin_bswap64(word);
        table.slots[n++] = slot;
    }
    radixSort(table.slots, n, table.slots + n, table.capacity - n,
              BigEndianOrder<PackedSlot<Words>, Words, wordsOf<Words>>{});
}

// The inverse, for a table that is counted into again after being read.
template <std::size_t Words>
void hashAgain(PackedTable<Words>& table, const HashKey& key) {
    std::vector<typename PackedTable<Words>::Slot> entries(table.slots, table.slots + table.size);
    std::uint64_t size = table.size;
    table.empty();
    for (auto slot : entries) {
        for (auto& word : slot.key.words) word = __builtin_bswap64(word);
        table.slots[table.freeSlotFor(slot.key.hash(key))] = slot;
    }
    table.size = size;
}

constexpr std::uint64_t RefKeyMask = ~OffsetMask;

std::uint64_t bigEndianWord(const char* bytes, std::size_t length) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, std::min<std::size_t>(length, 8));
    return __builtin_bswap64(word);
}

// The order of the key bytes alone: entries whose keys tie are sorted
// afterwards by the bytes that follow (sortLongEntries).
struct LongOrder {
    static constexpr std::size_t KeyBytes = 8 + (64 - OffsetBits) / 8;
    static unsigned byteAt(const LongEntry& e, std::size_t i) {
        std::uint64_t word = i < 8 ? e.head : e.ref;
        return static_cast<unsigned>(word >> (56 - 8 * (i % 8))) & 0xFF;
    }
    static std::size_t sharedBytes(const LongEntry& a, const LongEntry& b) {
        if (std::uint64_t differ = a.head ^ b.head)
            return static_cast<std::size_t>(std::countl_zero(differ)) / 8;
        if (std::uint64_t differ = (a.ref ^ b.ref) & RefKeyMask)
            return 8 + static_cast<std::size_t>(std::countl_zero(differ)) / 8;
        return KeyBytes;
    }
    static bool sameKey(const LongEntry& a, const LongEntry& b) {
        return a.head == b.head && ((a.ref ^ b.ref) & RefKeyMask) == 0;
    }
    bool less(const LongEntry& a, const LongEntry& b) const {
        if (a.head != b.head) return a.head < b.head;
        return (a.ref & RefKeyMask) < (b.ref & RefKeyMask);
    }
};

// The entry of the record at `offset` keyed by its text's bytes from
// `depth` on, zero padded.
LongEntry longEntryAt(std::string_view text, std::uint64_t offset, std::size_t depth) {
    // Most keys lie whole in the text (at depth 0 every one: long texts have
    // 17 bytes or more), read with two loads instead of through a copy.
    if (depth + 16 <= text.size()) {
        const char* key = text.data() + depth;
        return {bigEndianWord(key, 8), (bigEndianWord(key + 8, 8) & RefKeyMask) | offset};
    }
    char bytes[16] = {};
    if (depth < text.size())
        std::memcpy(bytes, text.data() + depth, std::min(text.size() - depth, LongOrder::KeyBytes));
    return {bigEndianWord(bytes, 8), (bigEndianWord(bytes + 8, 8) & RefKeyMask) | offset};
}

// Entries whose texts share their first `depth` bytes, keyed by the bytes
// from there on once they are taken from the stack.
struct TiedEntries {
    LongEntry* entries;
    std::size_t count;
    std::size_t depth;
};

// Keys the entries again by their texts' bytes from `depth` on. The
// record's start and the bytes of the new key may lie on different cache
// lines (a length below 128 takes one byte), so both are fetched ahead.
constexpr std::size_t KeyBurst = 16;
// In bursts, as SortedTable fetches its records (and inlined, as the word
// table's prefetches are).
[[gnu::always_inline]] inline void fetchKeys(const TiedEntries& tied, const Arena& arena, std::size_t from) {
    for (std::size_t i = from; i < std::min(tied.count, from + KeyBurst); ++i) {
        const char* record = arena.bytes + (tied.entries[i].ref & OffsetMask);
        __builtin_prefetch(record);
        __builtin_prefetch(record + CountBytes + 1 + tied.depth + LongOrder::KeyBytes - 1);
    }
}

void keyFromDepth(const TiedEntries& tied, const Arena& arena) {
    fetchKeys(tied, arena, 0);
    for (std::size_t i = 0; i < tied.count; ++i) {
        if (i % KeyBurst == 0) fetchKeys(tied, arena, i + KeyBurst);
        std::uint64_t offset = tied.entries[i].ref & OffsetMask;
        tied.entries[i] = longEntryAt(arena.text(offset), offset, tied.depth);
    }
}

// Sorts keyed entries, then each run of them whose keys tie: those texts
// share the next KeyBytes as well (texts hold no NUL, so padding cannot tie
// with a byte, and every tied text is at least that long). A few are
// compared; more (frequent leading words) go on `pending` to be keyed again
// by the following bytes, which reads each record once instead of once per
// comparison. The records of a few tied entries lie anywhere in the arena:
// they are fetched when their run is found and compared GroupsAhead runs
// later.
void sortKeyedEntries(const TiedEntries& keyed, LongEntry* scratch, std::size_t scratchCapacity,
                      const Arena& arena, std::vector<TiedEntries>& pending) {
    constexpr std::size_t FewTied = 8, GroupsAhead = 8;
    LongEntry* entries = keyed.entries;
    radixSort(entries, keyed.count, scratch, scratchCapacity, LongOrder{});
    std::size_t next = keyed.depth + LongOrder::KeyBytes;
    auto rest = [&](const LongEntry& e) { return arena.text(e.ref & OffsetMask).substr(next); };
    struct Run {
        std::size_t start, end;
    };
    Run waiting[GroupsAhead];
    std::size_t found = 0;
    auto sortRun = [&](const Run& run) {
        std::sort(entries + run.start, entries + run.end,
                  [&](const LongEntry& a, const LongEntry& b) { return rest(a) < rest(b); });
    };
    std::size_t firstPending = pending.size();
    for (std::size_t start = 0, end; start < keyed.count; start = end) {
        for (end = start + 1; end < keyed.count && LongOrder::sameKey(entries[start], entries[end]);) ++end;
        std::size_t tied = end - start;
        if (tied >= FewTied) {
            pending.push_back({entries + start, tied, next});
        } else if (tied > 1) {
            for (std::size_t i = start; i < end; ++i) {
                const char* record = arena.bytes + (entries[i].ref & OffsetMask);
                __builtin_prefetch(record);
                __builtin_prefetch(record + CountBytes + 1 + next);
            }
            Run& slot = waiting[found++ % GroupsAhead];
            if (found > GroupsAhead) sortRun(slot);
            slot = {start, end};
        }
    }
    for (std::size_t k = found > GroupsAhead ? found - GroupsAhead : 0; k < found; ++k)
        sortRun(waiting[k % GroupsAhead]);
    // The stack gives the groups back first to last: one forward sweep.
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(firstPending), pending.end());
}

// Sorts entries keyed from their texts' first byte. Ties wait on a stack of
// their own, not the call stack: texts may share hundreds of kilobytes (an
// n-gram of thousands of one repeated word), one round per KeyBytes.
void sortLongEntries(LongEntry* entries, std::size_t count, LongEntry* scratch, std::size_t scratchCapacity,
                     const Arena& arena) {
    std::vector<TiedEntries> pending;
    sortKeyedEntries({entries, count, 0}, scratch, scratchCapacity, arena, pending);
    while (!pending.empty()) {
        TiedEntries tied = pending.back();
        pending.pop_back();
        keyFromDepth(tied, arena);
        sortKeyedEntries(tied, scratch, scratchCapacity, arena, pending);
    }
}

void sortInPlace(LongTable& table) {
    if (table.size == 0) return;
    if (SortSlotsPerLongEntry * table.size > table.capacity) {
        table.capacity *= 2;
        table.slots = resizeArray(table.slots, table.capacity);
    }
    auto* entries = reinterpret_cast<LongEntry*>(table.slots);
    std::uint64_t n = 0;
    const Arena& arena = table.arena;
    for (std::uint64_t offset = 1; offset < arena.used; offset = arena.next(offset))
        entries[n++] = longEntryAt(arena.text(offset), offset, 0);
    std::uint64_t room = table.capacity * sizeof(std::uint64_t) / sizeof(LongEntry);
    sortLongEntries(entries, n, entries + n, room - n, arena);
}

}  // namespace

void sortInPlace(WordTable& table) {
    if (table.sorted) return;
    sortInPlace(table.shortTexts);
    sortInPlace(table.mediumTexts);
    sortInPlace(table.longTexts);
    table.sorted = true;
}

void hashAgain(WordTable& table) {
    if (!table.sorted) return;
    hashAgain(table.shortTexts, table.key);
    hashAgain(table.mediumTexts, table.key);
    table.longTexts.placeFromArena(table.key);
    table.sorted = false;
}
