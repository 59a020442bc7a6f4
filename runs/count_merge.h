// The k-way merge of sorted count sources, a template for the speed of an
// inlined visit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/count_source.h"
#include "common/text_bytes.h"

// Hands every text of the sources to visit(text, count) once, in ascending
// order, with the sum of its counts over all sources.
template <typename Visit>
void mergeCounts(const std::vector<CountSource*>& sources, Visit&& visit);

// mergeCounts with the sums made by add(sum, count): a merge of counts that
// may pass 64 bits checks each addition.
template <typename Add, typename Visit>
void mergeCountsWith(const std::vector<CountSource*>& sources, Add&& add, Visit&& visit);

namespace count_merge_detail {

// memcmp order, eight bytes a step: most texts are short, and a call to
// memcmp costs more than the comparison.
inline bool textGreater(std::string_view a, std::string_view b) {
    std::size_t common = std::min(a.size(), b.size()), i = 0;
    for (; i + 8 <= common; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) return __builtin_bswap64(x) > __builtin_bswap64(y);
    }
    for (; i < common; ++i)
        if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) > static_cast<unsigned char>(b[i]);
    return a.size() > b.size();
}

// A text's 8 bytes from `from` as a big-endian number, zero padded: with
// the text's size, these numbers order texts as memcmp does (SourceHeap).
inline std::uint64_t wordAt(std::string_view text, std::size_t from) {
    std::uint64_t word = 0;
    if (text.size() >= from + 8)
        std::memcpy(&word, text.data() + from, 8);
    else
        for (std::size_t i = from; i < text.size(); ++i)
            word |= std::uint64_t{static_cast<unsigned char>(text[i])} << (8 * (i - from));
    return __builtin_bswap64(word);
}

// A min-heap of the sources by their current text; each entry keeps the
// text's first two words and its size, which decide every comparison of
// texts of up to 16 bytes without reaching into the source (zero padding
// sorts a text before its extensions, so memcmp order holds even for a
// text with NUL bytes), and most others (long texts of a merge often share
// their first eight bytes).
class SourceHeap {
public:
    explicit SourceHeap(const std::vector<CountSource*>& sources) {
        for (CountSource* source : sources)
            if (source->next()) heap_.push_back(entryOf(source));
        std::make_heap(heap_.begin(), heap_.end(), greater);
    }
    bool empty() const { return heap_.empty(); }
    CountSource& top() const { return *heap_.front().source; }
    std::uint64_t topWord() const { return heap_.front().word; }
    std::uint64_t topSecondWord() const { return heap_.front().second; }
    std::size_t topSize() const { return heap_.front().size; }

    // Moves the top source on and restores the order; inline in the merge
    // loop, as it runs once a record.
    [[gnu::always_inline]] void advanceTop() {
        Entry& top = heap_.front();
        if (top.source->next()) {
            top = entryOf(top.source);
        } else {
            top = heap_.back();
            heap_.pop_back();
        }
        siftDown();
    }

private:
    struct Entry {
        std::uint64_t word, second;
        std::size_t size;
        CountSource* source;
    };

    static Entry entryOf(CountSource* source) {
        std::string_view text = source->text();
        return {wordAt(text, 0), text.size() > 8 ? wordAt(text, 8) : 0, text.size(), source};
    }

    static bool greater(const Entry& a, const Entry& b) {
        if (a.word != b.word) return a.word > b.word;
        if (a.second != b.second) return a.second > b.second;
        if (a.size <= 16 || b.size <= 16) return a.size > b.size;
        return textGreater(a.source->text().substr(16), b.source->text().substr(16));
    }

    [[gnu::always_inline]] void siftDown() {
        std::size_t size = heap_.size(), i = 0;
        if (size < 2) return;
        Entry moving = heap_[0];
        for (;;) {
            std::size_t child = 2 * i + 1;
            if (child >= size) break;
            if (child + 1 < size && greater(heap_[child], heap_[child + 1])) ++child;
            if (!greater(moving, heap_[child])) break;
            heap_[i] = heap_[child];
            i = child;
        }
        heap_[i] = moving;
    }

    std::vector<Entry> heap_;
};

}  // namespace count_merge_detail

template <typename Add, typename Visit>
void mergeCountsWith(const std::vector<CountSource*>& sources, Add&& add, Visit&& visit) {
    if (sources.size() == 1) {
        while (sources[0]->next()) visit(sources[0]->text(), sources[0]->count());
        return;
    }
    count_merge_detail::SourceHeap heap(sources);
    TextBuffer currentBytes;
    while (!heap.empty()) {
        std::uint64_t word = heap.topWord(), second = heap.topSecondWord();
        std::size_t size = heap.topSize();
        // The text outlives its source's next record: a short one is its
        // two words again, a long one a copy.
        char shortText[16];
        std::string_view current;
        if (size <= 16) {
            std::uint64_t bytes[2] = {__builtin_bswap64(word), __builtin_bswap64(second)};
            std::memcpy(shortText, bytes, 16);
            current = {shortText, size};
        } else {
            std::string_view top = heap.top().text();
            copyShort(currentBytes.keepAndResize(0, top.size()), top.data(), top.size());
            current = currentBytes.view();
        }
        std::int64_t count = heap.top().count();
        heap.advanceTop();
        while (!heap.empty() && heap.topWord() == word && heap.topSecondWord() == second &&
               heap.topSize() == size && (size <= 16 || heap.top().text().substr(16) == current.substr(16))) {
            count = add(count, heap.top().count());
            heap.advanceTop();
        }
        visit(current, count);
    }
}

template <typename Visit>
void mergeCounts(const std::vector<CountSource*>& sources, Visit&& visit) {
    mergeCountsWith(
        sources, [](std::int64_t a, std::int64_t b) { return a + b; }, visit);
}
