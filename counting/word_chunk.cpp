#include "counting/word_chunk.h"

#include <string>

#include "common/parallel.h"
#include "counting/word_exchange.h"
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

// A slice's console on a thread of its own: its dots are kept for the
// caller to tell in order; its bytes counted go on at once.
class SliceConsole final : public CountingConsole {
public:
    explicit SliceConsole(const CountingConsole& console) : console_(console) {}
    void dots(std::int64_t count) const override { dots_ += count; }
    void counted(std::int64_t bytes) const override { console_.counted(bytes); }
    std::int64_t dotsTold() const { return dots_; }

private:
    const CountingConsole& console_;
    mutable std::int64_t dots_ = 0;
};

}  // namespace

void scanWordChunk(NGramCountTable& table, const char* chunk, std::int64_t length, std::int32_t n,
                   const CountingConsole& console) {
    std::size_t threads = table.wordTables();
    std::vector<WordScanSlice> slices = sliceWordScan(chunk, length, n, threads);
    if (threads == 1) {
        scanWordSlice(
            chunk, length, n, slices[0], console,
            [&](const std::string_view* texts, std::size_t count) { table.addNGrams(0, texts, count); });
        return;
    }
    // A thread without a slice (the bytes offered fewer places to cut) only
    // counts its table's texts.
    std::vector<std::int64_t> dots(slices.size());
    WordExchange exchange(table, n);
    runInParallel(threads, [&](std::size_t i) {
        SliceConsole sliceConsole(console);
        exchange.run(i, [&](const WordTextsSink& sink) {
            if (i < slices.size()) scanWordSlice(chunk, length, n, slices[i], sliceConsole, sink);
        });
        if (i < slices.size()) dots[i] = sliceConsole.dotsTold();
    });
    for (std::int64_t sliceDots : dots) console.dots(sliceDots);
}
