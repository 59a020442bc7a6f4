// The word table: the texts of word mode, counted one at a time.
//
// A general-purpose hash map spends a heap node per entry and a chain of
// cache misses per lookup. Here every lookup is one hash and a linear probe
// through a flat array, so a repeated n-gram usually costs one cache line.
//
// Invariants (checkConsistency() checks them, for the tests):
// - The empty text is counted in emptyTextCount, apart from the slots: it
//   packs to 0, which marks a free slot.
// - A text of 1 to 8 bytes lives in shortTexts under its packed key (its
//   bytes from the low-order end on, the rest zero), a text of 9 to 16 bytes
//   in mediumTexts under two words: its first 8 bytes and its other bytes
//   packed. Texts hold no NUL, so keys are distinct and their first word is
//   never 0; a free slot's first word is 0.
// - A text of 17 bytes or more is stored once in the arena as a record:
//   its count (8 bytes), its length (a varint), its bytes. A longTexts slot
//   is the record's offset in the low 40 bits and the top 24 bits of the
//   text's hash above them. Offset 0 holds no record, so a free slot is 0.
//   A probe reads a record only when the stored hash bits match.
// - Every slot array (counting/slot_array.h) has a power-of-two capacity
//   (or none yet) and is at most MaxLoadNumerator/MaxLoadDenominator full.
//   An entry sits at the first free slot at or after its home slot, hash &
//   (capacity - 1), wrapping at the end: no free slot lies between an
//   entry's home and the entry.
//   Entries are never removed, and every count is at least 1.
// - Growth doubles a slot array without holding two of them: packed slots
//   are re-placed in place, long slots are rebuilt from the arena, which
//   holds every long text in insertion order.
// - The hash is keyed with keys drawn afresh for each run, from families
//   that bound the chance of any two texts sharing a home slot (HashKey),
//   so no input can be built to pile its texts onto a few home slots; the
//   count file's order does not depend on it.
// - The table never grows by itself past what its owner allows: add() counts
//   a new text only when that takes no growth, and otherwise leaves the
//   owner to spill the table or not before addNew().
// - It may be sorted where it lies (counting/table_sort.h): `sorted` says
//   the slots hold sorted entries instead of hashed ones, until hashAgain()
//   or emptying.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "common/varint.h"
#include "counting/slot_array.h"
#include "counting/text_hash.h"

static_assert(std::endian::native == std::endian::little, "packed keys are little-endian loads");

inline constexpr std::size_t MaxPackedLength = 8, MaxMediumLength = 2 * MaxPackedLength;
inline constexpr int OffsetBits = 40;
inline constexpr std::uint64_t OffsetMask = (std::uint64_t{1} << OffsetBits) - 1;
inline constexpr std::size_t CountBytes = sizeof(std::int64_t);
// A long text's sorted entry takes two slots of the long slot array.
inline constexpr std::uint64_t SortSlotsPerLongEntry = 2;

// Texts of up to 8 x Words bytes, packed into Words integers.
template <std::size_t Words>
struct PackedKey {
    std::uint64_t words[Words];

    bool isFree() const { return words[0] == 0; }
    bool operator==(const PackedKey&) const = default;

    // Keys are the texts' bytes (texts hold no NUL), so distinct texts
    // have distinct keys.
    std::uint64_t hash(const HashKey& key) const { return multiplyShift(key, words, Words); }

    // Whole words of 8 bytes, then the rest packed.
    static PackedKey of(std::string_view text) {
        PackedKey key{};
        std::size_t whole = (text.size() - 1) / 8;
        for (std::size_t i = 0; i < whole; ++i) key.words[i] = load64(text.data() + 8 * i);
        key.words[whole] = packShortText(text.data() + 8 * whole, text.size() - 8 * whole);
        return key;
    }
};

template <std::size_t Words>
struct PackedSlot {
    PackedKey<Words> key;
    std::int64_t count;
    bool isFree() const { return key.isFree(); }
};

template <std::size_t Words>
struct PackedTable : SlotArray<PackedSlot<Words>> {
    using Key = PackedKey<Words>;
    using Slot = PackedSlot<Words>;
    using Base = SlotArray<Slot>;
    using Base::capacity, Base::size, Base::slots;

    // Counts the text if it is here or fits without growing; false leaves
    // the table as it was.
    bool add(const Key& key, std::uint64_t hash) {
        std::uint64_t i;
        if (this->probe(
                hash, [&](const Slot& slot) { return slot.key == key; }, i)) {
            ++slots[i].count;
            return true;
        }
        if (this->overLoaded()) return false;
        slots[i] = {key, 1};
        ++size;
        return true;
    }
    std::uint64_t growth() const { return capacity * sizeof(Slot); }
    void addNew(const Key& key, std::uint64_t hash, const HashKey& hashKey) {
        if (this->overLoaded()) grow(hashKey);
        slots[this->freeSlotFor(hash)] = {key, 1};
        ++size;
    }

    // Doubles the capacity and re-places, in place, every entry of the old
    // (lower) half: its new home is its old home or that plus the old
    // capacity. The pass starts just after a free slot, so no cluster is cut
    // in two at the start, and an entry then always lands in the upper half or
    // on a slot of the lower half that the pass has already emptied. No entry
    // waiting to move is overwritten, and no moved entry's probe path crosses
    // a slot that the pass will still empty.
    void grow(const HashKey& hashKey) {
        std::uint64_t oldCapacity = capacity;
        this->doubleCapacity();
        if (oldCapacity == 0) return;
        std::uint64_t firstFree = 0;
        while (!slots[firstFree].isFree()) ++firstFree;
        for (std::uint64_t step = 1; step < oldCapacity; ++step) {
            std::uint64_t i = (firstFree + step) & (oldCapacity - 1);
            if (slots[i].isFree()) continue;
            Slot entry = slots[i];
            slots[i] = Slot{};
            slots[this->freeSlotFor(entry.key.hash(hashKey))] = entry;
        }
    }
};

// Arena records: count, length as a varint (appendVarint), text bytes.
// Records are not aligned; counts are read and written by copy.
struct Arena {
    char* bytes = nullptr;
    std::uint64_t used = 0;
    std::uint64_t capacity = 0;

    std::uint64_t neededFor(std::string_view text) const {
        return std::max<std::uint64_t>(used, 1) + CountBytes + 10 + text.size();
    }
    // Appends a record with the text and count; returns its offset.
    std::uint64_t append(std::string_view text, std::int64_t count);
    std::string_view text(std::uint64_t offset) const {
        const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes + offset + CountBytes);
        std::uint64_t length = readVarint(in);
        return {reinterpret_cast<const char*>(in), length};
    }
    std::int64_t count(std::uint64_t offset) const {
        std::int64_t count;
        std::memcpy(&count, bytes + offset, CountBytes);
        return count;
    }
    void addToCount(std::uint64_t offset, std::int64_t occurrences) {
        std::int64_t updated = count(offset) + occurrences;
        std::memcpy(bytes + offset, &updated, CountBytes);
    }
    // The offset of the record after the one at `offset`.
    std::uint64_t next(std::uint64_t offset) const {
        std::string_view record = text(offset);
        return static_cast<std::uint64_t>(record.data() + record.size() - bytes);
    }
};

struct LongSlot {
    std::uint64_t bits;  // 0: free; else hash bits | record offset
    bool isFree() const { return bits == 0; }
};

struct LongTable : SlotArray<LongSlot> {
    Arena arena;

    static std::uint64_t hashBits(std::uint64_t hash) { return hash & ~OffsetMask; }

    bool add(std::string_view text, std::uint64_t hash) {
        std::uint64_t i;
        auto holds = [&](LongSlot slot) {
            return (slot.bits & ~OffsetMask) == hashBits(hash) && arena.text(slot.bits & OffsetMask) == text;
        };
        if (probe(hash, holds, i)) {
            arena.addToCount(slots[i].bits & OffsetMask, 1);
            return true;
        }
        if (needsRoom(text)) return false;
        slots[i] = {hashBits(hash) | arena.append(text, 1)};
        ++size;
        return true;
    }
    // Whether adding the text grows the arena or the slots, or takes the
    // table to where sorting it doubles its slot array first.
    bool needsRoom(std::string_view text) const {
        return arena.neededFor(text) > arena.capacity ||
               (SortSlotsPerLongEntry * (size + 1) > capacity && SortSlotsPerLongEntry * size <= capacity) ||
               overLoaded();
    }
    std::uint64_t growth(std::string_view text) const {
        return std::max(arena.neededFor(text) > arena.capacity ? arena.capacity : 0,
                        overLoaded() ? capacity * sizeof(LongSlot) : 0);
    }
    // The memory sorting adds to a table of `entries` long texts.
    std::uint64_t sortBytes(std::uint64_t entries) const {
        return SortSlotsPerLongEntry * entries > capacity ? capacity * sizeof(LongSlot) : 0;
    }
    void addNew(std::string_view text, std::uint64_t hash, const HashKey& key) {
        if (overLoaded()) grow(key);
        slots[freeSlotFor(hash)] = {hashBits(hash) | arena.append(text, 1)};
        ++size;
    }

    // Once the home slot has arrived: fetches the record it names if that
    // may be the text's own.
    [[gnu::always_inline]] void prefetchRecord(std::uint64_t hash) const {
        if (capacity == 0) return;
        std::uint64_t slot = slots[home(hash)].bits;
        if (slot != 0 && (slot & ~OffsetMask) == hashBits(hash))
            __builtin_prefetch(arena.bytes + (slot & OffsetMask), 1);
    }
    // Doubles the capacity, clears the slots and places every record again,
    // read from the arena in order. The old pages are reused, so growing
    // never holds two slot arrays.
    void grow(const HashKey& key) {
        capacity = capacity == 0 ? InitialCapacity : 2 * capacity;
        slots = resizeArray(slots, capacity);
        placeFromArena(key);
    }
    void placeFromArena(const HashKey& key);
    void empty() {
        SlotArray::empty();
        arena.used = 0;
    }
    std::uint64_t hashOf(const HashKey& key, LongSlot slot) const {
        std::string_view text = arena.text(slot.bits & OffsetMask);
        return hashText(key, text.data(), text.size());
    }
};

// The word table's hash of a text: of its packed key up to 16 bytes, of its
// bytes beyond.
inline std::uint64_t hashWordText(const HashKey& key, std::string_view text) {
    if (text.size() > MaxMediumLength) return hashText(key, text.data(), text.size());
    if (text.size() > MaxPackedLength) return PackedKey<2>::of(text).hash(key);
    return text.empty() ? 0 : PackedKey<1>::of(text).hash(key);
}

// Of word tables that split the texts by their hash under one key, the one
// that counts a text of this hash. It reads bits 24 to 39, apart from the
// long slots' check (the top 24); a table's hashes are spread over its home
// slots as one table's are while it has far fewer than 2^40 / `tables`
// slots.
inline std::size_t wordTableOwning(std::uint64_t hash, std::size_t tables) {
    return static_cast<std::size_t>((hash >> 24 & 0xFFFF) * tables >> 16);
}

struct WordTable {
    HashKey key = drawKey();
    std::int64_t emptyTextCount = 0;
    PackedTable<1> shortTexts;
    PackedTable<2> mediumTexts;
    LongTable longTexts;
    // The slot arrays hold their entries sorted (counting/table_sort.h),
    // not hashed; an add first hashes them again.
    bool sorted = false;

    std::uint64_t hash(std::string_view text) const { return hashWordText(key, text); }
    [[gnu::always_inline]] void prefetch(std::string_view text, std::uint64_t hash) const {
        if (text.size() > MaxMediumLength)
            longTexts.prefetch(hash);
        else if (text.size() > MaxPackedLength)
            mediumTexts.prefetch(hash);
        else
            shortTexts.prefetch(hash);
    }
    // Counts the text if it is here or fits without growing; false leaves
    // the table as it was, for its owner to make room and call addNew().
    bool add(std::string_view text, std::uint64_t hash) {
        if (text.size() > MaxMediumLength) return longTexts.add(text, hash);
        if (text.size() > MaxPackedLength) return mediumTexts.add(PackedKey<2>::of(text), hash);
        if (!text.empty()) return shortTexts.add(PackedKey<1>::of(text), hash);
        ++emptyTextCount;
        return true;
    }
    // What the table takes once the text is added, sorting included.
    std::uint64_t bytesAfterAdding(std::string_view text) const;
    void addNew(std::string_view text, std::uint64_t hash);

    std::uint64_t distinct() const {
        return (emptyTextCount > 0 ? 1 : 0) + shortTexts.size + mediumTexts.size + longTexts.size;
    }
    std::uint64_t bytes() const {
        return shortTexts.capacity * sizeof(PackedSlot<1>) + mediumTexts.capacity * sizeof(PackedSlot<2>) +
               longTexts.capacity * sizeof(LongSlot) + longTexts.arena.capacity;
    }
    WordTable() = default;
    ~WordTable() { freeArrays(); }
    WordTable(const WordTable&) = delete;
    WordTable& operator=(const WordTable&) = delete;
    // Empty again, keeping the arrays (their pages are already touched).
    void empty();
    // Empty, its arrays freed; the hash key stays.
    void release();
    std::uint64_t probeDistance() const;
    // The invariants above, for a hashed table: "" or the first one broken.
    std::string checkConsistency() const;

private:
    void freeArrays();
};
