// Character mode above the direct counters: the windows of a chunk sorted
// in batches, each handed to the count table as one run of distinct texts.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "common/parallel.h"
#include "counting/big_endian_key.h"
#include "counting/counting_console.h"
#include "counting/ngram_count_table.h"
#include "counting/radix_sort.h"
#include "formats/record_codec.h"
#include "runs/run_format.h"

namespace window_sorter_detail {

inline bool hasZeroByte(std::uint64_t word) {
    return ((word - 0x0101010101010101u) & ~word & 0x8080808080808080u) != 0;
}

// The window's bytes, the first lowest, cut at the first NUL: the lowest
// high bit of the zero-byte mask marks the first zero byte exactly (higher
// ones may be false), and the bytes from there on are dropped.
inline std::uint64_t cutAtFirstNul(std::uint64_t window) {
    std::uint64_t zeroBytes = (window - 0x0101010101010101u) & ~window & 0x8080808080808080u;
    return window & (((zeroBytes & (0 - zeroBytes)) >> 7) - 1);
}

inline std::uint64_t lowBytesMask(int n) {
    return n >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1;
}

}  // namespace window_sorter_detail

// The windows of one chunk, read from a buffer that holds `available` bytes.
struct Windows {
    const char* data;
    std::int64_t available;
    int n;

    // The bytes at p + offset, at most 8 and not past the buffer, packed
    // with the first byte lowest.
    std::uint64_t load(std::int64_t p, int offset, int bytes) const {
        std::uint64_t word = 0;
        if (bytes <= 0) return 0;
        if (p + offset + 8 <= available)
            std::memcpy(&word, data + p + offset, sizeof word);
        else
            std::memcpy(&word, data + p + offset, static_cast<std::size_t>(bytes));
        return word & window_sorter_detail::lowBytesMask(bytes);
    }
};

// A window of up to 8 x Words bytes, cut at its first NUL.
template <std::size_t Words>
struct WindowKey {
    std::uint64_t words[Words];
    bool operator==(const WindowKey&) const = default;
    std::size_t text(char* text) const { return BigEndianWords<Words>::text(words, text); }

    static WindowKey at(const Windows& windows, std::int64_t p) {
        using namespace window_sorter_detail;
        WindowKey key;
        bool cut = false;
        for (std::size_t i = 0; i < Words; ++i) {
            int offset = static_cast<int>(8 * i);
            std::uint64_t bytes = cut ? 0 : windows.load(p, offset, std::min(8, windows.n - offset));
            cut = cut || hasZeroByte(bytes);
            key.words[i] = __builtin_bswap64(cutAtFirstNul(bytes));
        }
        return key;
    }
};

// The distinct texts of sorted keys, with their numbers of equal neighbours.
template <std::size_t Words>
class SortedKeys final : public CountSource {
public:
    SortedKeys(const WindowKey<Words>* keys, std::size_t size) : keys_(keys), size_(size) {}
    // A binary search: equal keys have equal texts, so the first key not
    // below `from` starts its group.
    void skipTowards(std::string_view from) override {
        position_ = static_cast<std::size_t>(
            std::partition_point(keys_, keys_ + size_,
                                 [&](const WindowKey<Words>& key) {
                                     return std::string_view(textBytes_, key.text(textBytes_)) < from;
                                 }) -
            keys_);
    }
    bool next() override {
        if (position_ == size_) return false;
        std::size_t end = position_ + 1;
        while (end < size_ && keys_[end] == keys_[position_]) ++end;
        text_ = std::string_view(textBytes_, keys_[position_].text(textBytes_));
        count_ = static_cast<std::int64_t>(end - position_);
        position_ = end;
        return true;
    }

    // The most bytes a run of the keys takes, found without making their
    // texts.
    static std::int64_t largestRunBytes(const WindowKey<Words>* keys, std::size_t count) {
        std::int64_t runBytes = 0;
        for (std::size_t position = 0, end; position < count; position = end) {
            for (end = position + 1; end < count && keys[end] == keys[position];) ++end;
            runBytes += static_cast<std::int64_t>(mostRecordBytes(8 * Words, end - position));
        }
        return runBytes;
    }

private:
    const WindowKey<Words>* keys_;
    std::size_t size_, position_ = 0;
    char textBytes_[8 * Words];
};

// Kept from chunk to chunk by the character scanner: fresh pages cost more
// here than sorting. `keys` is with the count table while it holds the last
// batch.
struct SortBuffers {
    LargePages keys, scratch;
    std::size_t keyBytes = 0;
    std::vector<std::uint32_t> pairSizes, pairNext;
};

// A sorted batch left in its buffer for the final merge: the buffer goes to
// the count table with it and comes back when the table writes it as a run,
// in pieces of about PieceKeys keys cut where the text changes.
template <std::size_t Words>
struct HeldKeys final : HeldCounts {
    static constexpr std::size_t PieceKeys = std::size_t{1} << 16;

    HeldKeys(LargePages pages, std::size_t count) : keys(std::move(pages)), count(count) {}
    const WindowKey<Words>* data() const { return reinterpret_cast<const WindowKey<Words>*>(keys.data); }
    std::unique_ptr<CountSource> open() const override {
        return std::make_unique<SortedKeys<Words>>(data(), count);
    }
    std::size_t pieces() const override { return (count + PieceKeys - 1) / PieceKeys; }
    std::unique_ptr<CountSource> piece(std::size_t index) const override {
        std::size_t from = pieceStart(index);
        return std::make_unique<SortedKeys<Words>>(data() + from, pieceStart(index + 1) - from);
    }
    std::int64_t largestPieceBytes(std::size_t index) const override {
        std::size_t from = pieceStart(index);
        return SortedKeys<Words>::largestRunBytes(data() + from, pieceStart(index + 1) - from);
    }
    void sampleTexts(std::size_t samples, std::vector<WeightedText>& texts) const override {
        std::size_t stride = std::max<std::size_t>(count / std::max<std::size_t>(samples, 1), 1);
        char text[8 * Words];
        for (std::size_t i = 0; i < count; i += stride)
            texts.push_back({std::string(text, data()[i].text(text)),
                             static_cast<std::int64_t>(std::min(stride, count - i))});
    }
    LargePages keys;
    std::size_t count;

private:
    // The first key of its text at or after index x PieceKeys: equal keys
    // stay in one piece.
    std::size_t pieceStart(std::size_t index) const {
        std::size_t at = std::min(index * PieceKeys, count);
        if (at == 0 || at == count) return at;
        const WindowKey<Words>& before = data()[at - 1];
        return static_cast<std::size_t>(
            std::partition_point(data() + at, data() + count,
                                 [&](const WindowKey<Words>& key) { return key == before; }) -
            data());
    }
};

// The windows of a chunk in batches of consecutive windows, as many as the
// working memory allows: each batch is sorted and handed over as one run of
// distinct texts. The keys go straight into their buckets by first byte
// (the byte counts of the chunk say where each bucket starts), so the
// scratch of the sort only has to hold the largest bucket, not the batch.
template <std::size_t Words>
class WindowSorter {
public:
    using Key = WindowKey<Words>;
    static const std::uint64_t* wordsOf(const Key& key) { return key.words; }
    using KeyOrder = BigEndianOrder<Key, Words, wordsOf>;

    // Scratch for a fifth of the keys: in text no first byte starts more
    // windows; a larger bucket is partitioned in place instead.
    static constexpr std::size_t ScratchShare = 4;
    // Beyond a full chunk of 8-byte keys larger batches save little: the
    // pages cost more to touch than the longer runs they avoid.
    static constexpr std::int64_t MostSortBytes = std::int64_t{1} << 30;
    // Below this many windows a batch is sorted without the pairs.
    static constexpr std::size_t SmallBatch = 4096;

    // Tells `console` the windows sorted as it goes: a quarter of each as
    // its pair is counted, a quarter as it is scattered into its bucket,
    // half as its bucket is sorted.
    WindowSorter(NGramCountTable& table, SortBuffers& buffers, const Windows& windows,
                 std::int64_t windowCount, const CountingConsole& console)
        : table_(table), buffers_(buffers), windows_(windows), console_(console) {
        std::int64_t perWindow = static_cast<std::int64_t>(sizeof(Key) + sizeof(Key) / ScratchShare);
        std::int64_t fits =
            std::max<std::int64_t>(std::min(table.workingMemory(), MostSortBytes) / perWindow, 4096);
        std::size_t wanted = static_cast<std::size_t>(std::min(windowCount, fits));
        if (buffers.keyBytes < wanted * sizeof(Key)) {
            takeBackHeld();
            buffers = SortBuffers{};  // the old pages go before the new ones come
            buffers.keyBytes = wanted * sizeof(Key);
            buffers.keys = LargePages(buffers.keyBytes);
            buffers.scratch = LargePages(std::max<std::size_t>(wanted / ScratchShare, 1) * sizeof(Key));
        }
        scratch_ = reinterpret_cast<Key*>(buffers.scratch.data);
        scratchCapacity_ = buffers.scratch.bytes / sizeof(Key);
        capacity_ = wanted;
    }

    // Takes the windows from `from` to `to`, which follow those taken so far.
    void add(std::int64_t from, std::int64_t to) {
        while (from < to) {
            std::int64_t take = std::min(to, batchStart_ + static_cast<std::int64_t>(capacity_));
            batchEnd_ = take;
            from = take;
            if (batchEnd_ - batchStart_ == static_cast<std::int64_t>(capacity_)) handOver();
        }
    }

    void finish() {
        if (batchEnd_ > batchStart_) handOver();
    }

private:
    // The batch before, if the table still holds it, becomes a run, and its
    // buffer comes back; a table cleared meanwhile has freed it.
    void takeBackHeld() {
        std::unique_ptr<HeldCounts> back = table_.releaseHeldCounts();
        if (auto* keys = dynamic_cast<HeldKeys<Words>*>(back.get())) buffers_.keys = std::move(keys->keys);
    }

    // The last batch of the whole input is never copied into a run: the
    // final merge reads it where it is.
    void handOver() {
        std::size_t count = static_cast<std::size_t>(batchEnd_ - batchStart_);
        takeBackHeld();
        if (buffers_.keys.data == nullptr) buffers_.keys = LargePages(buffers_.keyBytes);
        keys_ = reinterpret_cast<Key*>(buffers_.keys.data);
        sortBatch(count);
        table_.holdSortedCounts(std::make_unique<HeldKeys<Words>>(std::move(buffers_.keys), count));
        batchStart_ = batchEnd_;
    }

    // The first two bytes of the window's key, from the chunk's bytes: a
    // NUL ends the text, and a window of one byte has no second.
    std::size_t leadingPair(std::int64_t p) const {
        auto first = static_cast<unsigned char>(windows_.data[p]);
        if (first == 0 || windows_.n < 2) return std::size_t{first} << 8;
        return std::size_t{first} << 8 | static_cast<unsigned char>(windows_.data[p + 1]);
    }

    // By the first two bytes at once: text uses a few thousand pairs, so the
    // scatter writes to few enough places to stay in the caches, and the
    // buckets it makes mostly fit in them. With threads, each counts and
    // scatters a slice of the windows (a slice's keys of a pair follow the
    // previous slice's), then they sort the buckets, each with its share of
    // the scratch: the sorted batch is the same whatever the threads.
    void sortBatch(std::size_t count) {
        constexpr std::size_t Pairs = std::size_t{1} << 16;
        // A small batch (a small input, or a chunk's short end) is sorted
        // whole: the pairs' counters would cost more than its keys.
        if (count < SmallBatch) {
            for (std::size_t i = 0; i < count; ++i)
                keys_[i] = Key::at(windows_, batchStart_ + static_cast<std::int64_t>(i));
            radixSort(keys_, count, scratch_, scratchCapacity_, KeyOrder{});
            return;
        }
        // A slice's pair counters take 512 KiB; they stay a small part of
        // the working memory, or there are fewer slices.
        std::size_t threads = static_cast<std::size_t>(table_.threads());
        std::size_t counterRoom = static_cast<std::size_t>(table_.workingMemory() / (std::int64_t{8} << 20));
        std::size_t slices =
            std::clamp<std::size_t>(std::min(count / (std::size_t{1} << 16), counterRoom), 1, threads);
        std::vector<std::uint32_t>& sizes = buffers_.pairSizes;
        std::vector<std::uint32_t>& next = buffers_.pairNext;
        sizes.assign(slices * Pairs, 0);
        next.resize(slices * Pairs);
        auto sliceStart = [&](std::size_t slice) {
            return batchStart_ + static_cast<std::int64_t>(count * slice / slices);
        };
        runInParallel(slices, [&](std::size_t slice) {
            std::uint32_t* mine = sizes.data() + slice * Pairs;
            for (std::int64_t p = sliceStart(slice), end = sliceStart(slice + 1); p < end;) {
                std::int64_t stepEnd = std::min(end, p + 4 * CountedStep);
                console_.counted((stepEnd - p) / 4);
                for (; p < stepEnd; ++p) ++mine[leadingPair(p)];
            }
        });
        std::vector<std::uint32_t> bucketStart(Pairs + 1);
        std::uint32_t start = 0;
        for (std::size_t pair = 0; pair < Pairs; ++pair) {
            bucketStart[pair] = start;
            for (std::size_t slice = 0; slice < slices; ++slice) {
                next[slice * Pairs + pair] = start;
                start += sizes[slice * Pairs + pair];
            }
        }
        bucketStart[Pairs] = start;
        runInParallel(slices, [&](std::size_t slice) {
            std::uint32_t* mine = next.data() + slice * Pairs;
            for (std::int64_t p = sliceStart(slice), end = sliceStart(slice + 1); p < end;) {
                std::int64_t stepEnd = std::min(end, p + 4 * CountedStep);
                console_.counted((stepEnd - p) / 4);
                for (; p < stepEnd; ++p) keys_[mine[leadingPair(p)]++] = Key::at(windows_, p);
            }
        });
        // Buckets go to whichever thread is free, so one large bucket does
        // not hold the others up.
        std::atomic<std::size_t> nextPair{0};
        std::size_t sorters = std::min(threads, scratchCapacity_);
        runInParallel(sorters, [&](std::size_t sorter) {
            std::size_t share = scratchCapacity_ / sorters;
            Key* scratch = scratch_ + sorter * share;
            std::int64_t sorted = 0;  // windows not yet told
            for (std::size_t pair; (pair = nextPair.fetch_add(1, std::memory_order_relaxed)) < Pairs;) {
                std::uint32_t size = bucketStart[pair + 1] - bucketStart[pair];
                if (size == 0) continue;
                radixSort(keys_ + bucketStart[pair], size, scratch, share, KeyOrder{}, 2);
                if ((sorted += size / 2) >= CountedStep) console_.counted(std::exchange(sorted, 0));
            }
            console_.counted(sorted);
        });
    }

    NGramCountTable& table_;
    SortBuffers& buffers_;
    Windows windows_;
    const CountingConsole& console_;
    Key* keys_ = nullptr;
    Key* scratch_;
    std::size_t capacity_ = 0, scratchCapacity_ = 0;
    std::int64_t batchStart_ = 0, batchEnd_ = 0;
};
