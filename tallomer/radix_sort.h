// Sorting many fixed-size records by their leading key bytes, most
// significant byte first: each pass scatters a bucket into 256 smaller ones,
// so the work stays in streaming passes instead of a comparison sort's
// log2(n) random-looking rounds, and small buckets end in std::sort.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace radix_sort_detail {

// Below this many records a bucket's 256 counters cost more than they save.
inline constexpr std::size_t SmallBucket = 96;

template <typename Record, typename ByteAt, typename Less>
void sortBucket(Record* records, Record* scratch, std::size_t count, std::size_t byte, std::size_t keyBytes,
                bool resultInScratch, const ByteAt& byteAt, const Less& less) {
    std::array<std::size_t, 256> sizes;
    for (;;) {
        if (count < SmallBucket || byte == keyBytes) {
            std::sort(records, records + count, less);
            if (resultInScratch) std::memcpy(static_cast<void*>(scratch), records, count * sizeof(Record));
            return;
        }
        sizes.fill(0);
        for (std::size_t i = 0; i < count; ++i) ++sizes[byteAt(records[i], byte)];
        // All records share this byte: go on with the next one, nothing moves.
        if (sizes[byteAt(records[0], byte)] != count) break;
        ++byte;
    }
    std::array<std::size_t, 256> starts{};
    for (std::size_t b = 1; b < 256; ++b) starts[b] = starts[b - 1] + sizes[b - 1];
    std::array<std::size_t, 256> next = starts;
    for (std::size_t i = 0; i < count; ++i) scratch[next[byteAt(records[i], byte)]++] = records[i];
    // The buckets now lie in scratch: sorting each with `records` as its
    // scratch puts its result back where this call must leave it.
    for (std::size_t b = 0; b < 256; ++b)
        if (sizes[b] > 0)
            sortBucket(scratch + starts[b], records + starts[b], sizes[b], byte + 1, keyBytes,
                       !resultInScratch, byteAt, less);
}

}  // namespace radix_sort_detail

// Sorts `count` records in place by `less`. byteAt(record, i) is byte i
// (from 0, most significant first) of the record's key, for i below
// keyBytes; the bytes must order records as `less` does, and `less` decides
// between records whose key bytes are all equal. `scratch` holds `count`
// records.
template <typename Record, typename ByteAt, typename Less>
void radixSort(Record* records, Record* scratch, std::size_t count, std::size_t keyBytes,
               const ByteAt& byteAt, const Less& less) {
    radix_sort_detail::sortBucket(records, scratch, count, 0, keyBytes, false, byteAt, less);
}
