#include "counting/word_chunk.h"

#include <atomic>
#include <string>

#include "common/parallel.h"
#include "counting/word_scanner.h"

namespace {

// The first position from `cut` on where a scan may start a slice (see the
// header), or `bound` when there is none before it.
std::int64_t slicePointFrom(const char* chunk, std::int64_t cut, std::int64_t bound) {
    for (std::int64_t s = std::max<std::int64_t>(cut, 1); s < bound; ++s) {
        if (!isSeparator(static_cast<unsigned char>(chunk[s])) ||
            isSeparator(static_cast<unsigned char>(chunk[s - 1])))
            continue;
        WordPlace word;
        std::int32_t end = findWord(chunk, static_cast<std::int32_t>(s), word);
        return end != 0 ? end : s + 1;
    }
    return bound;
}

}  // namespace

std::vector<WordScanSlice> sliceWordScan(const char* chunk, std::int64_t length, std::int32_t n,
                                         std::size_t count) {
    WordScanSlice whole = wholeWordScan(length, n);
    std::vector<WordScanSlice> slices;
    std::int64_t from = whole.from;
    for (std::size_t i = 1; i < count && from < whole.to; ++i) {
        std::int64_t cut = whole.to / static_cast<std::int64_t>(count) * static_cast<std::int64_t>(i);
        std::int64_t start = slicePointFrom(chunk, std::max(cut, from + 1), whole.to);
        if (start >= whole.to) break;
        slices.push_back({from, start});
        from = start;
    }
    slices.push_back({from, whole.to});
    return slices;
}

namespace {

constexpr std::size_t SlicesPerThread = 64;

// A slice's console on a thread of its own: its dots are kept for the
// caller to tell in order; its bytes counted go on at once, and the rest of
// the slice's once it is scanned (a slice may be shorter than a step).
class SliceConsole final : public CountingConsole {
public:
    explicit SliceConsole(const CountingConsole& console) : console_(console) {}
    void dots(std::int64_t count) const override { dots_ += count; }
    void counted(std::int64_t bytes) const override {
        told_ += bytes;
        console_.counted(bytes);
    }
    std::int64_t dotsTold() const { return dots_; }
    void scanned(const WordScanSlice& slice) const { console_.counted(slice.to - slice.from - told_); }

private:
    const CountingConsole& console_;
    mutable std::int64_t dots_ = 0, told_ = 0;
};

}  // namespace

WordChunks::WordChunks(NGramCountTable& table, std::int32_t n) : table_(table), n_(n) {
    if (table.wordTables() > 1) exchange_ = std::make_unique<WordExchange>(table, n);
}

WordChunks::~WordChunks() = default;

void WordChunks::count(const char* chunk, std::int64_t length, const CountingConsole& console) {
    if (!exchange_) {
        scanWordSlice(
            chunk, length, n_, wholeWordScan(length, n_), console,
            [&](const std::string_view* texts, std::size_t count) { table_.addNGrams(0, texts, count); });
        return;
    }
    // Many more slices than threads, each taken by the next thread free: a
    // thread that the machine holds up leaves its share to the others.
    std::size_t threads = table_.wordTables();
    std::vector<WordScanSlice> slices = sliceWordScan(chunk, length, n_, threads * SlicesPerThread);
    std::vector<std::int64_t> dots(slices.size());
    std::atomic<std::size_t> nextSlice{0};
    runInParallel(threads, [&](std::size_t i) {
        exchange_->run(i, [&](const WordTextsSink& sink) {
            for (std::size_t k; (k = nextSlice.fetch_add(1, std::memory_order_relaxed)) < slices.size();) {
                SliceConsole sliceConsole(console);
                scanWordSlice(chunk, length, n_, slices[k], sliceConsole, sink);
                sliceConsole.scanned(slices[k]);
                dots[k] = sliceConsole.dotsTold();
            }
        });
    });
    for (std::int64_t sliceDots : dots) console.dots(sliceDots);
}

void scanWordChunk(NGramCountTable& table, const char* chunk, std::int64_t length, std::int32_t n,
                   const CountingConsole& console) {
    WordChunks(table, n).count(chunk, length, console);
}
