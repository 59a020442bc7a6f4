// Sorting many fixed-size records by their leading key bytes, most
// significant byte first: each pass scatters a bucket into 256 smaller ones,
// so the work stays in streaming passes instead of a comparison sort's
// log2(n) random-looking rounds, and small buckets end in std::sort.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

// How a record type is sorted:
//   static constexpr std::size_t KeyBytes;      key bytes, most significant first
//   static unsigned byteAt(const Record&, std::size_t i);
//   static std::size_t sharedBytes(const Record&, const Record&);  leading equal key bytes
//   bool less(const Record&, const Record&) const;  the order, agreeing with the bytes
namespace radix_sort_detail {

// Below this many records a bucket's 256 counters cost more than they save.
inline constexpr std::size_t SmallBucket = 96;

// Moves the records into their buckets by `byte` without scratch memory:
// each record is swapped straight into its bucket, and the one it displaces
// goes on to its own.
template <typename Record, typename Traits>
void partitionInPlace(Record* records, const std::array<std::size_t, 256>& starts,
                      const std::array<std::size_t, 256>& sizes, std::size_t byte) {
    std::array<std::size_t, 256> next = starts;
    for (std::size_t b = 0; b < 256; ++b) {
        std::size_t end = starts[b] + sizes[b];
        while (next[b] < end) {
            Record moving = records[next[b]];
            unsigned to = Traits::byteAt(moving, byte);
            while (to != b) {
                std::swap(moving, records[next[to]++]);
                to = Traits::byteAt(moving, byte);
            }
            records[next[b]++] = moving;
        }
    }
}

// The key bytes all `count` records share, at least `byte` + 1 when they
// all share key byte `byte` and their first `byte` bytes.
template <typename Record, typename Traits>
std::size_t sharedKeyBytes(const Record* records, std::size_t count, std::size_t byte) {
    std::size_t shared = Traits::KeyBytes;
    for (std::size_t i = 1; i < count && shared > byte; ++i)
        shared = std::min(shared, Traits::sharedBytes(records[0], records[i]));
    return std::max(shared, byte + 1);
}

// Sorts a bucket whose records share their first `byte` key bytes. The
// result ends in `records`, or in `scratch` if resultInScratch. A bucket
// larger than the scratch is partitioned in place (only ever with the result
// in `records`). Every call below this one starts at least one key byte
// further on and none starts past the key, so the depth stays below
// KeyBytes whatever the input (a long run of one byte makes many large
// buckets of equal keys).
template <typename Record, typename Traits>
void sortBucket(Record* records, Record* scratch, std::size_t scratchCapacity, std::size_t count,
                std::size_t byte, bool resultInScratch, const Traits& traits) {
    auto less = [&](const Record& a, const Record& b) { return traits.less(a, b); };
    auto done = [&] {
        if (resultInScratch) std::memcpy(static_cast<void*>(scratch), records, count * sizeof(Record));
    };
    // Past the key's last byte the records' keys are equal.
    if (byte >= Traits::KeyBytes) return done();
    if (count < SmallBucket) {
        std::sort(records, records + count, less);
        return done();
    }
    std::array<std::size_t, 256> sizes{}, starts{};
    for (std::size_t i = 0; i < count; ++i) ++sizes[Traits::byteAt(records[i], byte)];
    // Bytes all records share need no pass of their own; a bucket of equal
    // keys (a frequent n-gram) is finished at once.
    if (sizes[Traits::byteAt(records[0], byte)] == count) {
        std::size_t shared = sharedKeyBytes<Record, Traits>(records, count, byte);
        if (shared >= Traits::KeyBytes) return done();
        return sortBucket(records, scratch, scratchCapacity, count, shared, resultInScratch, traits);
    }
    for (std::size_t b = 1; b < 256; ++b) starts[b] = starts[b - 1] + sizes[b - 1];
    if (count > scratchCapacity) {
        partitionInPlace<Record, Traits>(records, starts, sizes, byte);
        for (std::size_t b = 0; b < 256; ++b)
            if (sizes[b] > 0)
                sortBucket(records + starts[b], scratch, scratchCapacity, sizes[b], byte + 1, false, traits);
        return;
    }
    std::array<std::size_t, 256> next = starts;
    for (std::size_t i = 0; i < count; ++i) scratch[next[Traits::byteAt(records[i], byte)]++] = records[i];
    // The buckets now lie in scratch: sorting each with `records` as its
    // scratch puts its result back where this call must leave it.
    for (std::size_t b = 0; b < 256; ++b)
        if (sizes[b] > 0)
            sortBucket(scratch + starts[b], records + starts[b], sizes[b], sizes[b], byte + 1,
                       !resultInScratch, traits);
}

}  // namespace radix_sort_detail

// Sorts `count` records whose first `sharedBytes` key bytes are equal, in
// place; `scratch` holds `scratchCapacity` records (the more, the fewer
// slower in-place passes).
template <typename Record, typename Traits>
void radixSort(Record* records, std::size_t count, Record* scratch, std::size_t scratchCapacity,
               const Traits& traits, std::size_t sharedBytes = 0) {
    radix_sort_detail::sortBucket(records, scratch, scratchCapacity, count, sharedBytes, false, traits);
}
