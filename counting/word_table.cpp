#include "counting/word_table.h"

#include <sys/random.h>

#include <cstdlib>
#include <ctime>

namespace {

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

template <typename Slot, typename HashOf>
std::uint64_t probeDistance(const SlotArray<Slot>& table, HashOf hashOf) {
    std::uint64_t total = 0;
    for (std::uint64_t i = 0; i < table.capacity; ++i)
        if (!table.slots[i].isFree()) total += (i - hashOf(table.slots[i])) & (table.capacity - 1);
    return total;
}

// A power-of-two capacity, the load bound, `size` entries, and no free slot
// between an entry and its home.
template <typename Slot, typename HashOf>
bool consistent(const SlotArray<Slot>& table, HashOf hashOf) {
    std::uint64_t capacity = table.capacity, used = 0;
    if ((capacity != 0 && !std::has_single_bit(capacity)) ||
        table.size * table.MaxLoadDenominator > capacity * table.MaxLoadNumerator)
        return false;
    for (std::uint64_t i = 0; i < capacity; ++i) {
        if (table.slots[i].isFree()) continue;
        ++used;
        for (std::uint64_t j = table.home(hashOf(table.slots[i])); j != i; j = (j + 1) & (capacity - 1))
            if (table.slots[j].isFree()) return false;
    }
    return used == table.size;
}

}  // namespace

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

std::uint64_t Arena::append(std::string_view text, std::int64_t count) {
    if (std::uint64_t needed = neededFor(text); needed > capacity) {
        std::uint64_t grown = std::max<std::uint64_t>({needed, 2 * capacity, 1 << 20});
        bytes = resizeArray(bytes, grown);
        capacity = grown;
    }
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

void LongTable::placeFromArena(const HashKey& key) {
    if (capacity != 0) std::memset(static_cast<void*>(slots), 0, capacity * sizeof(LongSlot));
    constexpr std::size_t Batch = 32;
    std::uint64_t offsets[Batch], hashes[Batch];
    for (std::uint64_t offset = 1; offset < arena.used;) {
        std::size_t batch = 0;
        for (; batch < Batch && offset < arena.used; ++batch, offset = arena.next(offset)) {
            std::string_view text = arena.text(offset);
            offsets[batch] = offset;
            hashes[batch] = hashText(key, text.data(), text.size());
            prefetch(hashes[batch]);
        }
        for (std::size_t i = 0; i < batch; ++i)
            slots[freeSlotFor(hashes[i])] = {hashBits(hashes[i]) | offsets[i]};
    }
}

std::uint64_t WordTable::bytesAfterAdding(std::string_view text) const {
    std::uint64_t growth = text.size() > MaxMediumLength   ? longTexts.growth(text)
                           : text.size() > MaxPackedLength ? mediumTexts.growth()
                                                           : shortTexts.growth();
    return bytes() + growth + longTexts.sortBytes(longTexts.size + 1);
}

void WordTable::addNew(std::string_view text, std::uint64_t hash) {
    if (text.size() > MaxMediumLength)
        longTexts.addNew(text, hash, key);
    else if (text.size() > MaxPackedLength)
        mediumTexts.addNew(PackedKey<2>::of(text), hash, key);
    else
        shortTexts.addNew(PackedKey<1>::of(text), hash, key);
}

void WordTable::empty() {
    emptyTextCount = 0;
    shortTexts.empty();
    mediumTexts.empty();
    longTexts.empty();
    sorted = false;
}

void WordTable::freeArrays() {
    std::free(shortTexts.slots);
    std::free(mediumTexts.slots);
    std::free(longTexts.slots);
    std::free(longTexts.arena.bytes);
}

void WordTable::release() {
    freeArrays();
    emptyTextCount = 0;
    shortTexts = {};
    mediumTexts = {};
    longTexts = {};
    sorted = false;
}

std::uint64_t WordTable::probeDistance() const {
    auto packed = [&](const auto& slot) { return slot.key.hash(key); };
    return ::probeDistance(shortTexts, packed) + ::probeDistance(mediumTexts, packed) +
           ::probeDistance(longTexts, [&](LongSlot slot) { return longTexts.hashOf(key, slot); });
}

std::string WordTable::checkConsistency() const {
    auto packed = [&](const auto& slot) { return slot.key.hash(key); };
    if (sorted) return "sorted, not hashed";
    if (!consistent(shortTexts, packed)) return "short texts: probe invariants";
    if (!consistent(mediumTexts, packed)) return "medium texts: probe invariants";
    if (!consistent(longTexts, [&](LongSlot slot) { return longTexts.hashOf(key, slot); }))
        return "long texts: probe invariants";
    std::uint64_t records = 0;
    for (std::uint64_t offset = 1; offset < longTexts.arena.used; offset = longTexts.arena.next(offset)) {
        std::string_view text = longTexts.arena.text(offset);
        if (text.size() <= MaxMediumLength || longTexts.arena.count(offset) < 1)
            return "long texts: a record";
        ++records;
    }
    if (records != longTexts.size) return "long texts: records and slots differ";
    auto countsPositive = [](const auto& table) {
        for (std::uint64_t i = 0; i < table.capacity; ++i)
            if (!table.slots[i].isFree() && table.slots[i].count < 1) return false;
        return true;
    };
    if (!countsPositive(shortTexts) || !countsPositive(mediumTexts)) return "packed texts: a count below 1";
    return emptyTextCount < 0 ? "empty text: a negative count" : "";
}
