// Character mode above the direct counters: the windows of a chunk sorted
// in batches, each of which becomes one run of distinct texts; the last
// batch of the input is never copied into a run, but read by the final
// merge where it lies.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "common/parallel.h"
#include "counting/big_endian_key.h"
#include "counting/counting_console.h"
#include "counting/ngram_count_table.h"
#include "counting/radix_sort.h"
#include "counting/sorted_batch.h"
#include "counting/window_keys.h"
#include "runs/run_storage.h"

// Kept from chunk to chunk by the character scanner: fresh pages cost more
// here than sorting. The batch's buffer holds the batch being sorted, then
// the sorted batch until the next one needs the buffer.
struct SortBuffers {
    SortedBatch batch;
    LargePages scratch;
    std::size_t keyBytes = 0;
    std::vector<std::uint32_t> pairSizes, pairNext;
};

// After the input's last chunk: the count table keeps the last batch, its
// buffer and all, for the final merge.
inline void leaveLastBatch(NGramCountTable& table, SortBuffers& buffers) {
    if (buffers.batch.count == 0) return;
    table.holdSortedCounts(std::make_unique<SortedBatch>(std::move(buffers.batch)));
    buffers.batch = SortedBatch{};
}

// The windows of a chunk in batches of consecutive windows, as many as the
// working memory allows: each batch is sorted and kept in its buffer until
// the next one needs it, then written as one run of distinct texts. The keys go straight into their buckets
// by first byte (the byte counts of the chunk say where each bucket starts), so the scratch of the sort only
// has to hold the largest bucket, not the batch.
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
            writeHeldBatch();
            buffers = SortBuffers{};  // the old pages go before the new ones come
            buffers.keyBytes = wanted * sizeof(Key);
            buffers.batch.keys = LargePages(buffers.keyBytes);
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
            if (batchEnd_ - batchStart_ == static_cast<std::int64_t>(capacity_)) endBatch();
        }
    }

    void finish() {
        if (batchEnd_ > batchStart_) endBatch();
    }

private:
    // The batch before becomes a run, so that the next takes its buffer.
    void writeHeldBatch() {
        SortedBatch& held = buffers_.batch;
        if (held.count == 0) return;
        table_.addSortedRun(held);
        held.count = 0;
    }

    // Sorts the batch taken and keeps it.
    void endBatch() {
        std::size_t count = static_cast<std::size_t>(batchEnd_ - batchStart_);
        writeHeldBatch();
        SortedBatch& batch = buffers_.batch;
        // Left with the table by an earlier scan.
        if (batch.keys.data == nullptr) batch.keys = LargePages(buffers_.keyBytes);
        keys_ = reinterpret_cast<Key*>(batch.keys.data);
        sortBatch(count);
        batch.count = count;
        batch.words = Words;
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
