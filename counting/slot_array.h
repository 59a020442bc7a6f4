// Open addressing over a flat array of slots, which both kinds of slot
// of the word table (counting/word_table.h) share: a power-of-two capacity
// (or none yet), linear probing from an entry's home slot, wrapping at the
// end, at most MaxLoadNumerator/MaxLoadDenominator full.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

// Slot arrays are trivially copyable and grow with realloc, which for large
// blocks remaps pages instead of copying them.
template <typename T>
T* resizeArray(T* array, std::uint64_t count) {
    void* moved = std::realloc(array, count * sizeof(T));
    if (!moved) throw std::bad_alloc();
    return static_cast<T*>(moved);
}

// The slots and their probe; Slot::isFree() marks a free slot, which is
// all zero bytes.
template <typename Slot>
struct SlotArray {
    static constexpr std::uint64_t InitialCapacity = 16, MaxLoadNumerator = 4, MaxLoadDenominator = 5;
    Slot* slots = nullptr;
    std::uint64_t capacity = 0;
    std::uint64_t size = 0;

    bool overLoaded() const { return (size + 1) * MaxLoadDenominator > capacity * MaxLoadNumerator; }
    std::uint64_t home(std::uint64_t hash) const { return hash & (capacity - 1); }
    // The one probe: from the home slot on to the entry that `matches`
    // (true) or to the first free slot, where `i` is left (false).
    template <typename Matches>
    bool probe(std::uint64_t hash, Matches matches, std::uint64_t& i) const {
        i = home(hash);
        if (capacity == 0) return false;
        for (; !slots[i].isFree(); i = (i + 1) & (capacity - 1))
            if (matches(slots[i])) return true;
        return false;
    }
    std::uint64_t freeSlotFor(std::uint64_t hash) const {
        std::uint64_t i = home(hash);
        while (!slots[i].isFree()) i = (i + 1) & (capacity - 1);
        return i;
    }
    // The prefetches are inlined: to the compiler a function that only
    // loads and prefetches has no effect, and a call to it that is not
    // inlined was dropped (batches ran without prefetching).
    [[gnu::always_inline]] void prefetch(std::uint64_t hash) const {
        if (capacity != 0) __builtin_prefetch(slots + home(hash), 1);
    }
    // Doubles the capacity; the new slots are free.
    void doubleCapacity() {
        std::uint64_t old = capacity;
        capacity = old == 0 ? InitialCapacity : 2 * old;
        slots = resizeArray(slots, capacity);
        std::memset(static_cast<void*>(slots + old), 0, (capacity - old) * sizeof(Slot));
    }
    void empty() {
        if (capacity != 0) std::memset(static_cast<void*>(slots), 0, capacity * sizeof(Slot));
        size = 0;
    }
};
