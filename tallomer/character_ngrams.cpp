#include "tallomer/character_ngrams.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "common/sorted_runs.h"
#include "tallomer/chunked_input.h"
#include "tallomer/ngram_count_table.h"
#include "tallomer/radix_sort.h"

namespace {

// Up to this N a window indexes an array of counters directly: 2^(8N) of
// them, 64 MiB for N = 3, which beats sorting the windows. Every chunk ends
// with a pass over the array, so a chunk needs at least 1/DirectMinFill
// windows per counter to take this way.
constexpr int MaxDirectN = 3;
constexpr std::int64_t DirectMinFill = 16;

// The window's bytes, the first lowest, cut at the first NUL: the
// lowest high bit of `zeroBytes` marks the first zero byte exactly (higher
// ones may be false), and the bytes from there on are dropped.
std::uint64_t cutAtFirstNul(std::uint64_t window) {
    std::uint64_t zeroBytes = (window - 0x0101010101010101u) & ~window & 0x8080808080808080u;
    return window & (((zeroBytes & (0 - zeroBytes)) >> 7) - 1);
}

bool hasZeroByte(std::uint64_t word) {
    return ((word - 0x0101010101010101u) & ~word & 0x8080808080808080u) != 0;
}

std::uint64_t lowBytesMask(int n) { return n >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1; }

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
        return word & lowBytesMask(bytes);
    }
};

// N of 1 to 3: one 32-bit counter per possible window, indexed by the
// window's bytes read big-endian, so that the array is in the count file's
// order. The array lives for the whole run, so its pages are touched once;
// after each chunk its counts become a run and the counters are zero again.
std::vector<std::uint32_t>& directCounters(int n) {
    static std::vector<std::uint32_t> counts;
    std::size_t size = std::size_t{1} << (8 * n);
    if (counts.size() != size) counts.assign(size, 0);
    return counts;
}

void countDirect(std::vector<std::uint32_t>& counts, const Windows& windows, std::int64_t from,
                 std::int64_t to) {
    int shift = 64 - 8 * windows.n;
    std::int64_t p = from;
    for (std::int64_t wideEnd = std::min(to, windows.available - 7); p < wideEnd; ++p) {
        std::uint64_t bytes;
        std::memcpy(&bytes, windows.data + p, sizeof bytes);
        ++counts[__builtin_bswap64(bytes) >> shift];
    }
    for (; p < to; ++p) ++counts[__builtin_bswap64(windows.load(p, 0, windows.n)) >> shift];
}

// A window with a NUL counts as its text before the NUL; all windows that
// begin with that text and a NUL sit side by side in the array, so equal
// texts arrive together and in order.
void addDirectCountsAsRun(std::vector<std::uint32_t>& counts, int n) {
    beginSortedCounts(static_cast<std::int64_t>(counts.size()) / DirectMinFill * (n + 12) + 4096);
    char pending[8];
    std::size_t pendingLength = 0;
    std::int64_t pendingCount = 0;
    for (std::size_t window = 0; window < counts.size(); ++window) {
        if (counts[window] == 0) continue;
        std::uint64_t bytes = __builtin_bswap64(std::uint64_t{window} << (64 - 8 * n));
        char text[8];
        std::memcpy(text, &bytes, sizeof text);
        std::size_t length = strnlen(text, static_cast<std::size_t>(n));
        if (pendingCount > 0 && std::string_view(text, length) != std::string_view(pending, pendingLength)) {
            addSortedCount(std::string_view(pending, pendingLength), pendingCount);
            pendingCount = 0;
        }
        std::memcpy(pending, text, length);
        pendingLength = length;
        pendingCount += counts[window];
        counts[window] = 0;
    }
    if (pendingCount > 0) addSortedCount(std::string_view(pending, pendingLength), pendingCount);
    endSortedCounts();
}

// A window of up to 8 x Words bytes as big-endian words, cut at its first
// NUL and zero padded, so that comparing the words compares the texts in
// memcmp order (a text before its extensions).
template <std::size_t Words>
struct WindowKey {
    std::uint64_t words[Words];

    bool operator==(const WindowKey&) const = default;
    bool operator<(const WindowKey& other) const {
        for (std::size_t i = 0; i < Words; ++i)
            if (words[i] != other.words[i]) return words[i] < other.words[i];
        return false;
    }
    unsigned byteAt(std::size_t i) const {
        return static_cast<unsigned>(words[i / 8] >> (56 - 8 * (i % 8))) & 0xFF;
    }

    static WindowKey at(const Windows& windows, std::int64_t p) {
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

    // The text's bytes into `text`; returns its length.
    std::size_t text(char* text) const {
        for (std::size_t i = 0; i < Words; ++i) {
            std::uint64_t bytes = __builtin_bswap64(words[i]);
            std::memcpy(text + 8 * i, &bytes, 8);
        }
        std::size_t zeros = 0, i = Words;
        while (i > 0 && words[i - 1] == 0) --i, zeros += 8;
        if (i > 0) zeros += static_cast<std::size_t>(std::countr_zero(words[i - 1])) / 8;
        return 8 * Words - zeros;
    }
};

// The windows of a chunk in batches of consecutive windows, as many as the
// working memory allows: each batch is sorted and handed over as one run of
// distinct texts. The keys go straight into their buckets by first byte
// (the byte counts of the chunk say where each bucket starts), so the
// scratch of the sort only has to hold the largest bucket, not the batch.
// The buffers are kept for the next chunks: fresh pages cost more here
// than sorting.
template <std::size_t Words>
class WindowSorter {
public:
    using Key = WindowKey<Words>;
    struct KeyOrder {
        static constexpr std::size_t KeyBytes = 8 * Words;
        static unsigned byteAt(const Key& key, std::size_t i) { return key.byteAt(i); }
        static std::size_t sharedBytes(const Key& a, const Key& b) {
            for (std::size_t i = 0; i < Words; ++i)
                if (std::uint64_t differ = a.words[i] ^ b.words[i])
                    return 8 * i + static_cast<std::size_t>(std::countl_zero(differ)) / 8;
            return KeyBytes;
        }
        bool less(const Key& a, const Key& b) const { return a < b; }
    };

    // Scratch for a fifth of the keys: in text no first byte starts more
    // windows; a larger bucket is partitioned in place instead.
    static constexpr std::size_t ScratchShare = 4;
    // Beyond a full chunk of 8-byte keys larger batches save little: the
    // pages cost more to touch than the longer runs they avoid.
    static constexpr std::int64_t MostSortBytes = std::int64_t{1} << 30;

    WindowSorter(const Windows& windows, std::int64_t windowCount) : windows_(windows) {
        std::int64_t perWindow = static_cast<std::int64_t>(sizeof(Key) + sizeof(Key) / ScratchShare);
        std::int64_t fits =
            std::max<std::int64_t>(std::min(workingMemory(), MostSortBytes) / perWindow, 4096);
        std::size_t wanted = static_cast<std::size_t>(std::min(windowCount, fits));
        Buffers& buffers = buffersFor();
        if (buffers.capacity < wanted) {
            handOverHeld();
            buffers = Buffers{};  // the old pages go before the new ones come
            buffers.keys = LargePages(wanted * sizeof(Key));
            buffers.scratch = LargePages(std::max<std::size_t>(wanted / ScratchShare, 1) * sizeof(Key));
            buffers.capacity = wanted;
        }
        keys_ = reinterpret_cast<Key*>(buffers.keys.data);
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
    struct Buffers {
        LargePages keys, scratch;
        std::size_t capacity = 0;
        std::vector<std::uint32_t> pairSizes, pairNext;
        // The last sorted batch, still in `keys` and read from there by the
        // final merge unless another batch needs the buffer.
        std::size_t held = 0;
    };
    static Buffers& buffersFor() {
        static Buffers buffers;
        return buffers;
    }

    // The distinct texts of sorted keys, with their numbers of equal
    // neighbours.
    class SortedKeys final : public CountSource {
    public:
        SortedKeys(const Key* keys, std::size_t size) : keys_(keys), size_(size) {}
        bool next() override {
            if (position_ == size_) return false;
            std::size_t end = position_ + 1;
            while (end < size_ && keys_[end] == keys_[position_]) ++end;
            text_ = std::string_view(textBytes_, keys_[position_].text(textBytes_));
            count_ = static_cast<std::int64_t>(end - position_);
            position_ = end;
            return true;
        }

    private:
        const Key* keys_;
        std::size_t size_, position_ = 0;
        char textBytes_[8 * Words];
    };

    // The last batch of the whole input is never copied into a run: the
    // final merge reads it where it is.
    void handOver() {
        std::size_t count = static_cast<std::size_t>(batchEnd_ - batchStart_);
        handOverHeld();
        sortBatch(count);
        Buffers& buffers = buffersFor();
        buffers.held = count;
        const Key* keys = keys_;
        holdSortedCounts({[keys, count] { return std::make_unique<SortedKeys>(keys, count); },
                          [] { buffersFor().held = 0; }});
        batchStart_ = batchEnd_;
    }

    void handOverHeld() {
        Buffers& buffers = buffersFor();
        if (buffers.held == 0) return;
        std::size_t count = buffers.held;
        buffers.held = 0;
        releaseHeldCounts();
        collapseAndHandOver(reinterpret_cast<const Key*>(buffers.keys.data), count);
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
    // buckets it makes mostly fit in them.
    void sortBatch(std::size_t count) {
        std::vector<std::uint32_t>& sizes = buffersFor().pairSizes;
        std::vector<std::uint32_t>& next = buffersFor().pairNext;
        sizes.assign(1 << 16, 0);
        next.resize(1 << 16);
        for (std::size_t i = 0; i < count; ++i)
            ++sizes[leadingPair(batchStart_ + static_cast<std::int64_t>(i))];
        std::uint32_t start = 0;
        for (std::size_t pair = 0; pair < sizes.size(); ++pair) {
            next[pair] = start;
            start += sizes[pair];
        }
        for (std::size_t i = 0; i < count; ++i) {
            std::int64_t p = batchStart_ + static_cast<std::int64_t>(i);
            keys_[next[leadingPair(p)]++] = Key::at(windows_, p);
        }
        // `next` now holds where each bucket ends.
        for (std::size_t pair = 0; pair < sizes.size(); ++pair)
            if (sizes[pair] > 0)
                radixSort(keys_ + next[pair] - sizes[pair], sizes[pair], scratch_, scratchCapacity_,
                          KeyOrder{}, 2);
    }

    // The most bytes a run of the sorted keys takes, found without making
    // their texts.
    static std::int64_t largestRunBytes(const Key* keys, std::size_t count) {
        std::int64_t runBytes = 0;
        for (std::size_t position = 0, end; position < count; position = end) {
            for (end = position + 1; end < count && keys[end] == keys[position];) ++end;
            runBytes += static_cast<std::int64_t>(2 + 8 * Words + varintBytes(end - position));
        }
        return runBytes;
    }

    // Hands the distinct texts over as a run; a first pass finds how large
    // the run will be.
    static void collapseAndHandOver(const Key* keys, std::size_t count) {
        beginSortedCounts(largestRunBytes(keys, count));
        SortedKeys entries(keys, count);
        while (entries.next()) addSortedCount(entries.text(), entries.count());
        endSortedCounts();
    }

    Windows windows_;
    Key* keys_;
    Key* scratch_;
    std::size_t capacity_ = 0, scratchCapacity_ = 0;
    std::int64_t batchStart_ = 0, batchEnd_ = 0;
};

template <std::size_t Words>
void countSorted(const Windows& windows, std::int64_t windowCount, std::ostream& progress) {
    WindowSorter<Words> sorter(windows, windowCount);
    for (std::int64_t blockStart = 0; blockStart < windowCount; blockStart += ProgressInterval) {
        progress << '.';
        sorter.add(blockStart, std::min(windowCount, blockStart + ProgressInterval));
    }
    sorter.finish();
}

}  // namespace

void scanCharacterChunk(const char* data, std::int64_t chunkLength, std::int64_t available, int n,
                        std::ostream& progress) {
    std::int64_t windowCount = std::min(chunkLength, available - n + 1);
    if (windowCount <= 0) return;
    Windows windows{data, available, n};
    // The counter array is the producer's working memory, like the sort
    // buffers: when it does not fit, the windows are sorted.
    std::int64_t counters = std::int64_t{1} << (8 * std::min(n, MaxDirectN));
    bool direct = n <= MaxDirectN && windowCount >= counters / DirectMinFill &&
                  windowCount <= std::numeric_limits<std::uint32_t>::max() &&
                  counters * static_cast<std::int64_t>(sizeof(std::uint32_t)) <= workingMemory();
    if (direct) {
        std::vector<std::uint32_t>& counts = directCounters(n);
        for (std::int64_t blockStart = 0; blockStart < windowCount; blockStart += ProgressInterval) {
            progress << '.';
            countDirect(counts, windows, blockStart, std::min(windowCount, blockStart + ProgressInterval));
        }
        addDirectCountsAsRun(counts, n);
    } else if (n <= 8) {
        countSorted<1>(windows, windowCount, progress);
    } else if (n <= 16) {
        countSorted<2>(windows, windowCount, progress);
    } else {
        countSorted<3>(windows, windowCount, progress);
    }
}
