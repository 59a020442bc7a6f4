// The word table: a hash table for texts counted one at a time, and the
// sorted runs everything ends in.
//
// A general-purpose hash map spends a heap node per entry and a chain of
// cache misses per lookup. Here every lookup is one hash and a linear probe
// through a flat array, so a repeated n-gram usually costs one cache line.
//
// Invariants:
// - The empty text is counted in emptyTextCount, apart from the slots: it
//   packs to 0, which marks a free slot.
// - A text of 1 to 8 bytes lives in shortTexts under its packed key (its
//   bytes from the low-order end on, the rest zero), a text of 9 to 16 bytes
//   in mediumTexts under two words: its first 8 bytes and its other bytes
//   packed. Texts hold no NUL, so keys are
//   distinct and their first word is never 0; a free slot's first word is 0.
// - A text of 17 bytes or more is stored once in the arena as a record:
//   its count (8 bytes), its length (a varint), its bytes. A longTexts slot
//   is the record's offset in the low 40 bits and the top 24 bits of the
//   text's hash above them. Offset 0 holds no record, so a free slot is 0.
//   A probe reads a record only when the stored hash bits match.
// - Every slot array has a power-of-two capacity (or none yet) and is at
//   most MaxLoadNumerator/MaxLoadDenominator full. An entry sits at the first
//   free slot at or after its home slot, hash & (capacity - 1), wrapping at
//   the end: no free slot lies between an entry's home and the entry.
//   Entries are never removed, and every count is at least 1.
// - Growth doubles a slot array without holding two of them: packed slots
//   are re-placed in place, long slots are rebuilt from the arena, which
//   holds every long text in insertion order.
// - The hash is keyed with keys drawn afresh for each run, from families
//   that bound the chance of any two texts sharing a home slot (HashKey),
//   so no input can be built to pile its texts onto a few home slots; the
//   count file's order does not depend on it.
// - The table never grows past its share of the memory budget, counting
//   what sorting it adds: when it would, its entries are sorted into a run
//   and it starts empty, keeping its arrays (their pages are already
//   touched).
// - It is sorted where it lies, in its own slot arrays: `sorted` says the
//   slots hold sorted entries instead of hashed ones, until an add hashes
//   them again or emptying clears them.
#include "tallomer/ngram_count_table.h"

#include <sys/random.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "common/count_file.h"
#include "common/file_io.h"
#include "common/run_format.h"
#include "tallomer/count_table_inspection.h"
#include "tallomer/radix_sort.h"

namespace {

static_assert(std::endian::native == std::endian::little, "packed keys are little-endian loads");

constexpr std::size_t MaxPackedLength = 8;
constexpr std::uint64_t InitialCapacity = 16;
constexpr std::uint64_t MaxLoadNumerator = 4;
constexpr std::uint64_t MaxLoadDenominator = 5;
// How many keys ahead of the one being counted a batch fetches slots.
constexpr std::size_t PrefetchDistance = 16;

constexpr int OffsetBits = 40;
constexpr std::uint64_t OffsetMask = (std::uint64_t{1} << OffsetBits) - 1;
constexpr std::size_t CountBytes = sizeof(std::int64_t);
// A long text's sorted entry takes two slots of the long slot array.
constexpr std::uint64_t SortSlotsPerLongEntry = 2;

// The hash keys, drawn afresh for each run. Every family below bounds, for
// any two distinct texts chosen without knowledge of the keys, the chance
// that they share the bits that pick the home slot, whatever their bytes:
// crafted input cannot crowd the table's clusters.
__extension__ typedef unsigned __int128 Word128;

constexpr std::uint64_t Prime = (std::uint64_t{1} << 61) - 1;

struct HashKey {
    // r^1 to r^4 modulo Prime, for a point r drawn below it.
    std::uint64_t powers[4];
    Word128 multipliers[2];
    Word128 offset;
};

// Congruent to x modulo Prime, for any x below 2^125 - 2^122 (the sums
// below stay under 2^124 + 2^67); folded twice, below 2^61 + 8.
std::uint64_t foldOnce(Word128 x) {
    return (static_cast<std::uint64_t>(x) & Prime) + static_cast<std::uint64_t>(x >> 61);
}
std::uint64_t foldPrime(Word128 x) {
    std::uint64_t once = foldOnce(x);
    return (once & Prime) + (once >> 61);
}

std::uint64_t mulModPrime(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product = foldPrime(Word128{a} * b);
    return product >= Prime ? product - Prime : product;
}

HashKey keyFrom(const std::uint64_t (&words)[7]) {
    HashKey key{};
    key.powers[0] = words[0] % Prime;
    for (int i = 1; i < 4; ++i) key.powers[i] = mulModPrime(key.powers[i - 1], key.powers[0]);
    key.multipliers[0] = Word128{words[1]} << 64 | words[2];
    key.multipliers[1] = Word128{words[3]} << 64 | words[4];
    key.offset = Word128{words[5]} << 64 | words[6];
    return key;
}

// The keys of a seed, for runs that must repeat (the tests): splitmix64's
// stream.
HashKey keyFromSeed(std::uint64_t seed) {
    std::uint64_t words[7];
    for (auto& word : words) {
        std::uint64_t z = (seed += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        word = z ^ (z >> 31);
    }
    return keyFrom(words);
}

HashKey drawKey() {
    std::uint64_t words[7];
    if (getrandom(words, sizeof words, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof words))
        return keyFrom(words);
    return keyFromSeed(reinterpret_cast<std::uintptr_t>(&words) ^ static_cast<std::uint64_t>(time(nullptr)));
}

HashKey HashKeys = drawKey();

// Called before a slot array or the arena grows by `bytes`: when that would
// take the table past its share of the budget, the table is written to a
// run and emptied instead (defined below).
void makeRoomToGrow(std::uint64_t bytes);

std::uint64_t load64(const char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// The high word of (a0 x0 + ... + b) mod 2^128, with a0, ... and b drawn
// from 2^128 and each x below 2^64: for x != y, a0 (x0 - y0) has its bits
// from the lowest set bit of x0 - y0 on uniform and independent of b's, so
// any l bits of the high word collide with chance 2^-l (with two words,
// take one that differs, whatever the other multiplier). The slot takes
// the low bits, the long slots' check the top 24.
std::uint64_t multiplyShift(const std::uint64_t* x, std::size_t words) {
    Word128 sum = HashKeys.offset;
    for (std::size_t i = 0; i < words; ++i) sum += HashKeys.multipliers[i] * x[i];
    return static_cast<std::uint64_t>(sum >> 64);
}

// The 7 bytes from `bytes` on, and the 7 before `end`.
std::uint64_t limb(const char* bytes) { return load64(bytes) & 0x00FFFFFFFFFFFFFFu; }
std::uint64_t limbBefore(const char* end) { return load64(end - 8) >> 8; }

// value r^4 + l0 r^3 + l1 r^2 + l2 r + l3, its multiplies independent.
Word128 hornerStep(std::uint64_t value, std::uint64_t l0, std::uint64_t l1, std::uint64_t l2,
                   std::uint64_t l3) {
    const std::uint64_t* r = HashKeys.powers;
    return Word128{value} * r[3] + Word128{l0} * r[2] + Word128{l1} * r[1] + Word128{l2} * r[0] + l3;
}

// The polynomial's value past 28 bytes, apart: the shorter texts, most of
// them, keep their hash inline and free of the loop's registers.
[[gnu::noinline]] std::uint64_t polynomialOfLongText(const char* bytes, std::size_t length) {
    const char* end = bytes + length;
    std::uint64_t value = length;
    for (; end - bytes > 28; bytes += 28)
        value =
            foldPrime(hornerStep(value, limb(bytes), limb(bytes + 7), limb(bytes + 14), limb(bytes + 21)));
    return foldOnce(
        hornerStep(value, limbBefore(end - 21), limbBefore(end - 14), limbBefore(end - 7), limbBefore(end)));
}

// For texts of 15 bytes or more: the polynomial with coefficients the
// length and then 7-byte limbs, at the point r, modulo Prime. The limbs
// are read four at a time from the front and the last four end the text
// (below 29 bytes, two from the front and two that end it): for a given
// length they cover every byte, so distinct texts give distinct polynomials
// (lengths differ in the leading coefficient or in the degree), whose
// difference has at most n roots for n limbs. Their values coincide with
// chance at most 9n / 2^64 (r is a 64-bit draw modulo Prime), and the
// multiply-shift of the value adds 2^-l for l slot bits.
std::uint64_t hashText(const char* bytes, std::size_t length) {
    const char* end = bytes + length;
    std::uint64_t value =
        length <= 28
            ? foldOnce(hornerStep(length, limb(bytes), limb(bytes + 7), limbBefore(end - 7), limbBefore(end)))
            : polynomialOfLongText(bytes, length);
    return multiplyShift(&value, 1);
}

// Packs a text of 1 to 8 bytes with two overlapping loads instead of a copy
// of variable length.
std::uint64_t packShortText(const char* bytes, std::size_t length) {
    auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(bytes[i])}; };
    if (length >= 4) {
        std::uint32_t low, high;
        std::memcpy(&low, bytes, 4);
        std::memcpy(&high, bytes + length - 4, 4);
        return low | std::uint64_t{high} << (8 * (length - 4));
    }
    return byte(0) | byte(length / 2) << (8 * (length / 2)) | byte(length - 1) << (8 * (length - 1));
}

bool overLoaded(std::uint64_t size, std::uint64_t capacity) {
    return (size + 1) * MaxLoadDenominator > capacity * MaxLoadNumerator;
}

// Slot arrays are trivially copyable and grow with realloc, which for large
// blocks remaps pages instead of copying them.
template <typename T>
T* resizeArray(T* array, std::uint64_t count) {
    void* moved = std::realloc(array, count * sizeof(T));
    if (!moved) throw std::bad_alloc();
    return static_cast<T*>(moved);
}

// Texts of up to 8 x Words bytes, packed into Words integers.
template <std::size_t Words>
struct PackedKey {
    std::uint64_t words[Words];

    bool isFree() const { return words[0] == 0; }
    bool operator==(const PackedKey&) const = default;

    // Keys are the texts' bytes (texts hold no NUL), so distinct texts
    // have distinct keys.
    std::uint64_t hash() const { return multiplyShift(words, Words); }

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
struct PackedTable {
    using Key = PackedKey<Words>;
    struct Slot {
        Key key;
        std::int64_t count;
    };
    Slot* slots = nullptr;
    std::uint64_t capacity = 0;
    std::uint64_t size = 0;

    std::uint64_t freeSlotFor(std::uint64_t hash) const {
        std::uint64_t i = hash & (capacity - 1);
        while (!slots[i].key.isFree()) i = (i + 1) & (capacity - 1);
        return i;
    }

    void add(const Key& key, std::uint64_t hash, std::int64_t occurrences) {
        std::uint64_t mask = capacity - 1;
        std::uint64_t i = hash & mask;
        if (capacity != 0) {
            for (; !slots[i].key.isFree(); i = (i + 1) & mask) {
                if (slots[i].key == key) {
                    slots[i].count += occurrences;
                    return;
                }
            }
        }
        if (overLoaded(size, capacity)) {
            makeRoomToGrow(capacity * sizeof(Slot));
            if (overLoaded(size, capacity)) grow();
            i = freeSlotFor(hash);
        }
        slots[i] = {key, occurrences};
        ++size;
    }

    void prefetch(std::uint64_t hash) const {
        if (capacity != 0) __builtin_prefetch(slots + (hash & (capacity - 1)), 1);
    }

    // Doubles the capacity and re-places, in place, every entry of the old
    // (lower) half: its new home is its old home or that plus the old
    // capacity. The pass starts just after a free slot, so no cluster is cut
    // in two at the start, and an entry then always lands in the upper half or
    // on a slot of the lower half that the pass has already emptied. No entry
    // waiting to move is overwritten, and no moved entry's probe path crosses
    // a slot that the pass will still empty.
    void grow() {
        std::uint64_t oldCapacity = capacity;
        capacity = oldCapacity == 0 ? InitialCapacity : 2 * oldCapacity;
        slots = resizeArray(slots, capacity);
        std::memset(static_cast<void*>(slots + oldCapacity), 0, (capacity - oldCapacity) * sizeof(Slot));
        if (oldCapacity == 0) return;
        std::uint64_t firstFree = 0;
        while (!slots[firstFree].key.isFree()) ++firstFree;
        for (std::uint64_t step = 1; step < oldCapacity; ++step) {
            std::uint64_t i = (firstFree + step) & (oldCapacity - 1);
            if (slots[i].key.isFree()) continue;
            Slot entry = slots[i];
            slots[i] = Slot{};
            slots[freeSlotFor(entry.key.hash())] = entry;
        }
    }

    void empty() {
        if (capacity != 0) std::memset(static_cast<void*>(slots), 0, capacity * sizeof(Slot));
        size = 0;
    }

    std::uint64_t probeDistance() const {
        std::uint64_t total = 0;
        for (std::uint64_t i = 0; i < capacity; ++i)
            if (!slots[i].key.isFree()) total += (i - slots[i].key.hash()) & (capacity - 1);
        return total;
    }
};

// Arena records: count, length as a varint (appendVarint),
// text bytes. Records are not aligned; counts are read and written by copy.
struct Arena {
    char* bytes = nullptr;
    std::uint64_t used = 0;
    std::uint64_t capacity = 0;

    // Appends a record with the text and count; returns its offset.
    std::uint64_t neededFor(std::string_view text) const {
        return std::max<std::uint64_t>(used, 1) + CountBytes + 10 + text.size();
    }

    std::uint64_t append(std::string_view text, std::int64_t count) {
        std::uint64_t needed = neededFor(text);
        if (needed > capacity) reserve(needed);
        if (used == 0) used = 1;  // offset 0 stays unused: a zero slot is free
        std::uint64_t offset = used;
        if (offset > OffsetMask) throw std::bad_alloc();
        char* out = bytes + used;
        std::memcpy(out, &count, CountBytes);
        out += CountBytes;
        out = appendVarint(out, text.size());
        std::memcpy(out, text.data(), text.size());
        used = static_cast<std::uint64_t>(out - bytes) + text.size();
        return offset;
    }

    void reserve(std::uint64_t needed) {
        std::uint64_t grown = std::max<std::uint64_t>({needed, 2 * capacity, 1 << 20});
        bytes = resizeArray(bytes, grown);
        capacity = grown;
    }

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

struct LongTable {
    std::uint64_t* slots = nullptr;  // 0: free; else hash bits | record offset
    std::uint64_t capacity = 0;
    std::uint64_t size = 0;
    Arena arena;

    static std::uint64_t hashBits(std::uint64_t hash) { return hash & ~OffsetMask; }

    std::uint64_t freeSlotFor(std::uint64_t hash) const {
        std::uint64_t i = hash & (capacity - 1);
        while (slots[i] != 0) i = (i + 1) & (capacity - 1);
        return i;
    }

    void add(std::string_view text, std::uint64_t hash, std::int64_t occurrences) {
        std::uint64_t mask = capacity - 1;
        std::uint64_t i = hash & mask;
        if (capacity != 0) {
            for (; slots[i] != 0; i = (i + 1) & mask) {
                std::uint64_t offset = slots[i] & OffsetMask;
                if ((slots[i] & ~OffsetMask) == hashBits(hash) && arena.text(offset) == text) {
                    arena.addToCount(offset, occurrences);
                    return;
                }
            }
        }
        if (arena.neededFor(text) > arena.capacity) makeRoomToGrow(arena.capacity);
        // From here on sorting the table doubles its slot array first.
        if (SortSlotsPerLongEntry * (size + 1) > capacity && SortSlotsPerLongEntry * size <= capacity)
            makeRoomToGrow(0);
        if (overLoaded(size, capacity)) {
            makeRoomToGrow(capacity * sizeof(std::uint64_t));
            if (overLoaded(size, capacity)) grow();
        }
        i = freeSlotFor(hash);
        slots[i] = hashBits(hash) | arena.append(text, occurrences);
        ++size;
    }

    void prefetchSlot(std::uint64_t hash) const {
        if (capacity != 0) __builtin_prefetch(slots + (hash & (capacity - 1)), 1);
    }

    // Once the home slot has arrived: fetches the record it names if that
    // may be the text's own.
    void prefetchRecord(std::uint64_t hash) const {
        if (capacity == 0) return;
        std::uint64_t slot = slots[hash & (capacity - 1)];
        if (slot != 0 && (slot & ~OffsetMask) == hashBits(hash))
            __builtin_prefetch(arena.bytes + (slot & OffsetMask), 1);
    }

    // Doubles the capacity, clears the slots and places every record again,
    // read from the arena in order. The old pages are reused, so growing
    // never holds two slot arrays.
    void grow() {
        capacity = capacity == 0 ? InitialCapacity : 2 * capacity;
        slots = resizeArray(slots, capacity);
        placeFromArena();
    }

    void placeFromArena() {
        if (capacity != 0) std::memset(slots, 0, capacity * sizeof(std::uint64_t));
        constexpr std::size_t Batch = 32;
        std::uint64_t offsets[Batch], hashes[Batch];
        for (std::uint64_t offset = 1; offset < arena.used;) {
            std::size_t batch = 0;
            for (; batch < Batch && offset < arena.used; ++batch, offset = arena.next(offset)) {
                std::string_view text = arena.text(offset);
                offsets[batch] = offset;
                hashes[batch] = hashText(text.data(), text.size());
                prefetchSlot(hashes[batch]);
            }
            for (std::size_t i = 0; i < batch; ++i)
                slots[freeSlotFor(hashes[i])] = hashBits(hashes[i]) | offsets[i];
        }
    }

    void empty() {
        if (capacity != 0) std::memset(slots, 0, capacity * sizeof(std::uint64_t));
        size = 0;
        arena.used = 0;
    }

    std::uint64_t probeDistance() const {
        std::uint64_t total = 0;
        for (std::uint64_t i = 0; i < capacity; ++i) {
            if (slots[i] == 0) continue;
            std::string_view text = arena.text(slots[i] & OffsetMask);
            total += (i - hashText(text.data(), text.size())) & (capacity - 1);
        }
        return total;
    }
};

struct CountTable {
    std::int64_t emptyTextCount = 0;
    PackedTable<1> shortTexts;
    PackedTable<2> mediumTexts;
    LongTable longTexts;
    // The slot arrays hold their entries sorted (see sortInPlace), not
    // hashed; an add first hashes them again.
    bool sorted = false;

    std::uint64_t distinct() const {
        return (emptyTextCount > 0 ? 1 : 0) + shortTexts.size + mediumTexts.size + longTexts.size;
    }
    std::uint64_t bytes() const {
        return shortTexts.capacity * sizeof(PackedTable<1>::Slot) +
               mediumTexts.capacity * sizeof(PackedTable<2>::Slot) +
               longTexts.capacity * sizeof(std::uint64_t) + longTexts.arena.capacity;
    }

    // Empty again, keeping the arrays.
    void empty() {
        emptyTextCount = 0;
        shortTexts.empty();
        mediumTexts.empty();
        longTexts.empty();
        sorted = false;
    }

    // The process's end returns the memory; only the tests start afresh.
    void release() {
        std::free(shortTexts.slots);
        std::free(mediumTexts.slots);
        std::free(longTexts.slots);
        std::free(longTexts.arena.bytes);
        *this = CountTable{};
    }
};

// Sorting the table where it lies: a table is thrown away once it has been
// written or spilled, so its slot arrays can hold its sorted entries and the
// sort touches no fresh pages (on this machine a fresh page costs more than
// sorting what it holds).
//
// Packed slots are moved to the front of their array and their key words
// turned big-endian (zero padded: texts hold no NUL, so a text sorts before
// its extensions); the rest of the array is the sort's scratch.
template <std::size_t Words>
struct PackedOrder {
    using Slot = typename PackedTable<Words>::Slot;
    static constexpr std::size_t KeyBytes = 8 * Words;
    static unsigned byteAt(const Slot& s, std::size_t i) {
        return static_cast<unsigned>(s.key.words[i / 8] >> (56 - 8 * (i % 8))) & 0xFF;
    }
    static std::size_t sharedBytes(const Slot& a, const Slot& b) {
        for (std::size_t i = 0; i < Words; ++i)
            if (std::uint64_t differ = a.key.words[i] ^ b.key.words[i])
                return 8 * i + static_cast<std::size_t>(std::countl_zero(differ)) / 8;
        return KeyBytes;
    }
    bool less(const Slot& a, const Slot& b) const {
        for (std::size_t i = 0; i + 1 < Words; ++i)
            if (a.key.words[i] != b.key.words[i]) return a.key.words[i] < b.key.words[i];
        return a.key.words[Words - 1] < b.key.words[Words - 1];
    }
};

template <std::size_t Words>
void sortInPlace(PackedTable<Words>& table) {
    std::uint64_t n = 0;
    for (std::uint64_t i = 0; i < table.capacity; ++i) {
        if (table.slots[i].key.isFree()) continue;
        auto slot = table.slots[i];
        for (auto& word : slot.key.words) word = __builtin_bswap64(word);
        table.slots[n++] = slot;
    }
    radixSort(table.slots, n, table.slots + n, table.capacity - n, PackedOrder<Words>{});
}

// The inverse, for a table that is counted into again after being read.
template <std::size_t Words>
void hashAgain(PackedTable<Words>& table) {
    std::vector<typename PackedTable<Words>::Slot> entries(table.slots, table.slots + table.size);
    std::uint64_t size = table.size;
    table.empty();
    for (auto slot : entries) {
        for (auto& word : slot.key.words) word = __builtin_bswap64(word);
        table.slots[table.freeSlotFor(slot.key.hash())] = slot;
    }
    table.size = size;
}

// A long text's sorted entry: its first 8 bytes big-endian, then the next
// 3 above its arena offset. Entries fill the long slot array, which is
// doubled first if it holds fewer than SortSlotsPerLongEntry slots per
// entry; its rest is the sort's scratch.
struct LongEntry {
    std::uint64_t head;
    std::uint64_t ref;
};
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
void keyFromDepth(const TiedEntries& tied, const Arena& arena) {
    constexpr std::size_t Ahead = 16;
    auto fetch = [&](const LongEntry& e) {
        const char* record = arena.bytes + (e.ref & OffsetMask);
        __builtin_prefetch(record);
        __builtin_prefetch(record + CountBytes + 1 + tied.depth + LongOrder::KeyBytes - 1);
    };
    for (std::size_t i = 0; i < std::min(tied.count, Ahead); ++i) fetch(tied.entries[i]);
    for (std::size_t i = 0; i < tied.count; ++i) {
        if (i + Ahead < tied.count) fetch(tied.entries[i + Ahead]);
        std::uint64_t offset = tied.entries[i].ref & OffsetMask;
        tied.entries[i] = longEntryAt(arena.text(offset), offset, tied.depth);
    }
}

// Sorts keyed entries, then each run of them whose keys tie: those texts
// share the next KeyBytes as well (texts hold no NUL, so padding cannot tie
// with a byte, and every tied text is at least that long). A few are
// compared; more (frequent leading words) go on `pending` to be keyed again
// by the following bytes, which reads each record once instead of once per
// comparison.
void sortKeyedEntries(const TiedEntries& keyed, LongEntry* scratch, std::size_t scratchCapacity,
                      const Arena& arena, std::vector<TiedEntries>& pending) {
    constexpr std::size_t FewTied = 8;
    LongEntry* entries = keyed.entries;
    radixSort(entries, keyed.count, scratch, scratchCapacity, LongOrder{});
    std::size_t next = keyed.depth + LongOrder::KeyBytes;
    auto rest = [&](const LongEntry& e) { return arena.text(e.ref & OffsetMask).substr(next); };
    std::size_t firstPending = pending.size();
    for (std::size_t start = 0, end; start < keyed.count; start = end) {
        for (end = start + 1; end < keyed.count && LongOrder::sameKey(entries[start], entries[end]);) ++end;
        std::size_t tied = end - start;
        if (tied >= FewTied) {
            pending.push_back({entries + start, tied, next});
        } else if (tied > 1) {
            std::sort(entries + start, entries + end,
                      [&](const LongEntry& a, const LongEntry& b) { return rest(a) < rest(b); });
        }
    }
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

// The memory sorting adds to a table of `entries` long texts.
std::uint64_t longSortBytes(const LongTable& table, std::uint64_t entries) {
    return SortSlotsPerLongEntry * entries > table.capacity ? table.capacity * sizeof(std::uint64_t) : 0;
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

void sortInPlace(CountTable& table) {
    if (table.sorted) return;
    sortInPlace(table.shortTexts);
    sortInPlace(table.mediumTexts);
    sortInPlace(table.longTexts);
    table.sorted = true;
}

void hashAgain(CountTable& table) {
    if (!table.sorted) return;
    hashAgain(table.shortTexts);
    hashAgain(table.mediumTexts);
    table.longTexts.placeFromArena();
    table.sorted = false;
}

// The table's entries in text order: the empty text, then a merge of the
// three sorted slot arrays. Each array's leading text is decoded once, when
// the array moves on, which is after the merge has taken the text before.
class SortedTable final : public CountSource {
public:
    explicit SortedTable(CountTable& table) : table_(table) {
        sortInPlace(table);
        for (int part = 0; part < Parts; ++part) decode(part);
    }

    bool next() override {
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

private:
    static constexpr int Parts = 3;  // short, medium, long texts
    const LongEntry* entries() const { return reinterpret_cast<const LongEntry*>(table_.longTexts.slots); }

    std::int64_t countAt(int part) const {
        std::uint64_t i = position_[part];
        if (part == 0) return table_.shortTexts.slots[i].count;
        if (part == 1) return table_.mediumTexts.slots[i].count;
        return table_.longTexts.arena.count(entries()[i].ref & OffsetMask);
    }

    void decode(int part) {
        std::uint64_t i = position_[part];
        if (part == 0) {
            has_[0] = i < table_.shortTexts.size;
            if (has_[0]) leading_[0] = packedText(table_.shortTexts.slots[i].key.words, 1, shortText_);
        } else if (part == 1) {
            has_[1] = i < table_.mediumTexts.size;
            if (has_[1]) leading_[1] = packedText(table_.mediumTexts.slots[i].key.words, 2, mediumText_);
        } else {
            has_[2] = i < table_.longTexts.size;
            if (!has_[2]) return;
            // Long texts are read from the arena in text order, which is not
            // the arena's: fetch them well ahead.
            constexpr std::size_t Ahead = 16;
            if (i + Ahead < table_.longTexts.size) {
                const char* record = table_.longTexts.arena.bytes + (entries()[i + Ahead].ref & OffsetMask);
                __builtin_prefetch(record);
                __builtin_prefetch(record + 63);
            }
            leading_[2] = table_.longTexts.arena.text(entries()[i].ref & OffsetMask);
        }
    }

    static std::string_view packedText(const std::uint64_t* words, std::size_t count, char* bytes) {
        std::size_t length = 0;
        for (std::size_t w = 0; w < count; ++w) {
            std::uint64_t word = __builtin_bswap64(words[w]);
            std::memcpy(bytes + 8 * w, &word, 8);
            if (words[w] != 0) length = 8 * w + 8 - static_cast<std::size_t>(std::countr_zero(words[w])) / 8;
        }
        return {bytes, length};
    }

    CountTable& table_;
    bool emptyDone_ = false;
    int taken_ = -1;
    std::uint64_t position_[Parts] = {};
    bool has_[Parts] = {};
    std::string_view leading_[Parts];
    char shortText_[8], mediumText_[16];
};

// The one count of the process: the word table, the runs and a producer's
// held list, each owned here.
struct NGramCountTable {
    RunStore runs;
    CountTable words;
    std::unique_ptr<HeldCounts> held;
};

NGramCountTable Table;

std::size_t heldSources() { return Table.held ? 1 : 0; }

void makeRoomToGrow(std::uint64_t bytes) {
    CountTable& table = Table.words;
    std::uint64_t after = table.bytes() + bytes + longSortBytes(table.longTexts, table.longTexts.size + 1);
    if (table.distinct() == 0 || after <= static_cast<std::uint64_t>(Table.runs.working())) return;
    // The run is at most the texts and their counts, which the table holds
    // too; its bytes are a fair bound.
    {
        SortedTable sorted(table);
        Table.runs.addRun(sorted, static_cast<std::int64_t>(table.bytes()));
    }
    table.empty();
}

constexpr std::size_t MaxMediumLength = 2 * MaxPackedLength;

std::uint64_t hashOf(std::string_view text) {
    if (text.size() > MaxMediumLength) return hashText(text.data(), text.size());
    if (text.size() > MaxPackedLength) return PackedKey<2>::of(text).hash();
    return text.empty() ? 0 : PackedKey<1>::of(text).hash();
}

void addHashed(std::string_view text, std::uint64_t hash) {
    CountTable& table = Table.words;
    if (text.size() > MaxMediumLength)
        table.longTexts.add(text, hash, 1);
    else if (text.size() > MaxPackedLength)
        table.mediumTexts.add(PackedKey<2>::of(text), hash, 1);
    else if (!text.empty())
        table.shortTexts.add(PackedKey<1>::of(text), hash, 1);
    else
        ++table.emptyTextCount;
}

void prefetchSlot(std::string_view text, std::uint64_t hash) {
    const CountTable& table = Table.words;
    if (text.size() > MaxMediumLength)
        table.longTexts.prefetchSlot(hash);
    else if (text.size() > MaxPackedLength)
        table.mediumTexts.prefetch(hash);
    else
        table.shortTexts.prefetch(hash);
}

// Hands every counted text, in order, to visit: the runs and the table merged.
template <typename Visit>
void mergeEverything(Visit&& visit) {
    CountTable& table = Table.words;
    std::unique_ptr<SortedTable> sorted;
    if (table.distinct() > 0) sorted = std::make_unique<SortedTable>(table);
    Table.runs.mergeDownTo((sorted ? 1 : 0) + heldSources());
    std::vector<std::unique_ptr<CountSource>> readers;
    if (Table.held) readers.push_back(Table.held->open());
    Table.runs.openAll(readers);
    std::vector<CountSource*> sources;
    for (auto& reader : readers) sources.push_back(reader.get());
    if (sorted) sources.push_back(sorted.get());
    if (sources.empty()) return;
    mergeCounts(sources, visit);
}

}  // namespace

void configureCounting(const CountingLimits& limits) {
    clearNGramCountTable();
    Table.runs.configure(limits);
}

void reserveMemory(std::int64_t bytes) { Table.runs.reserve(bytes); }

void addNGram(std::string_view text) {
    hashAgain(Table.words);
    addHashed(text, hashOf(text));
}

void addNGrams(const std::string_view* texts, std::size_t count) {
    // A pipeline: a text's home slot is fetched 2 x PrefetchDistance texts
    // ahead, and for a long text the record that slot names PrefetchDistance
    // ahead, so both have usually arrived when the text is counted.
    constexpr std::size_t Batch = 256;
    std::uint64_t hashes[Batch];
    hashAgain(Table.words);
    const LongTable& longTexts = Table.words.longTexts;
    for (std::size_t start = 0; start < count; start += Batch) {
        const std::string_view* batchTexts = texts + start;
        std::size_t batch = std::min(Batch, count - start);
        for (std::size_t i = 0; i < batch; ++i) {
            hashes[i] = hashOf(batchTexts[i]);
            if (i < 2 * PrefetchDistance) prefetchSlot(batchTexts[i], hashes[i]);
        }
        for (std::size_t i = 0; i < batch; ++i) {
            std::size_t slotAhead = i + 2 * PrefetchDistance, recordAhead = i + PrefetchDistance;
            if (slotAhead < batch) prefetchSlot(batchTexts[slotAhead], hashes[slotAhead]);
            if (recordAhead < batch && batchTexts[recordAhead].size() > MaxMediumLength)
                longTexts.prefetchRecord(hashes[recordAhead]);
            addHashed(batchTexts[i], hashes[i]);
        }
    }
}

std::int64_t workingMemory() { return Table.runs.working(); }

void beginSortedCounts(std::int64_t largestBytes) { Table.runs.begin(largestBytes); }

void addSortedCount(std::string_view text, std::int64_t count) { Table.runs.add(text, count); }

void endSortedCounts() { Table.runs.end(); }

void holdSortedCounts(std::unique_ptr<HeldCounts> held) { Table.held = std::move(held); }

std::unique_ptr<HeldCounts> releaseHeldCounts() {
    if (!Table.held) return nullptr;
    std::unique_ptr<HeldCounts> held = std::move(Table.held);
    Table.runs.addRun(*held->open(), held->largestRunBytes());
    return held;
}

void writeCountFile(const std::string& path) {
    // Group merges, if any, come before the count file is created, so that
    // their failures leave no count file behind.
    Table.runs.mergeDownTo((Table.words.distinct() > 0 ? 1 : 0) + heldSources());
    OutputFile file(path);
    mergeEverything([&](std::string_view text, std::int64_t count) { writeCountEntry(file, text, count); });
    file.close();
}

void visitCountsInOrder(const std::function<void(std::string_view, std::int64_t)>& visit) {
    Table.runs.mergeDownTo((Table.words.distinct() > 0 ? 1 : 0) + heldSources());
    mergeEverything(visit);
}

CountingStatistics countingStatistics() { return Table.runs.statistics(); }

std::uint64_t hashNGramText(std::string_view text) { return hashOf(text); }

void setHashSeed(std::uint64_t seed) {
    clearNGramCountTable();
    HashKeys = keyFromSeed(seed);
}

std::uint64_t totalProbeDistance() {
    hashAgain(Table.words);
    const CountTable& table = Table.words;
    return table.shortTexts.probeDistance() + table.mediumTexts.probeDistance() +
           table.longTexts.probeDistance();
}

std::int64_t distinctNGrams() {
    std::int64_t distinct = 0;
    mergeEverything([&](std::string_view, std::int64_t) { ++distinct; });
    return distinct;
}

void forEachNGram(const std::function<void(std::string_view, std::int64_t)>& visit) {
    mergeEverything(visit);
}

void clearNGramCountTable() {
    Table.held.reset();
    Table.words.release();
    Table.runs.clear();
}
