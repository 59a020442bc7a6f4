// The k-way summing merge of sorted count sources, the one every merge of
// runs and parts goes through: the sources are read a batch at a time,
// through a tree of losers whose nodes are compared by their keys (common/
// record_batch.h) without branching: the path from a source's leaf to the
// root is known before its key is, so each level costs a compare and a few
// conditional moves, not a mispredicted branch. It took 11 to 13 % less
// CPU time than a heap of the sources (bench/kway_merge, 8 and 64 parts
// and memory runs).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/count_source.h"
#include "common/text_bytes.h"

// Hands every text of the sources to visit(text, count) once, in
// ascending order, with the sum of its counts over all sources.
template <typename Visit>
void mergeCounts(const std::vector<CountSource*>& sources, Visit&& visit);

// mergeCounts with the sums made by add(sum, count): a merge of counts that
// may pass 64 bits checks each addition.
template <typename Add, typename Visit>
void mergeCountsWith(const std::vector<CountSource*>& sources, Add&& add, Visit&& visit);

class LoserTree {
public:
    // At least one source.
    explicit LoserTree(const std::vector<CountSource*>& sources);

    // Hands every text of the sources to emit(text, count) once, in
    // ascending order, with its counts summed by add(sum, count).
    template <typename Add, typename Emit>
    void run(Add&& add, Emit&& emit);

private:
    // A finished source's key: above every text's, as no text is that long.
    static constexpr std::uint64_t Finished = UINT64_MAX;

    void build();
    void refill(std::uint32_t leaf);
    // Whether leaf a's text comes before leaf b's, both longer than 16
    // bytes with equal first 16 bytes, or one of them finished.
    bool longBefore(std::uint32_t a, std::uint32_t b) const;
    std::string_view longText(std::uint32_t leaf) const { return batches_[leaf].longText(at_[leaf]); }

    // Plays the matches from the leaf, whose key has changed, up to the
    // root; leaves the winner in `leaf` and its key in `key`.
    [[gnu::always_inline]] void replay(std::uint32_t& leaf, TextKey& key) {
        std::uint32_t winner = leaf;
        std::uint64_t ww = key.word, ws = key.second, wz = key.size;
        for (std::size_t node = (leaves_ + leaf) >> 1; node > 0; node >>= 1) {
            std::uint32_t loser = losers_[node];
            std::uint64_t lw = words_[loser], ls = seconds_[loser], lz = sizes_[loser];
            bool sameStart = (lw == ww) & (ls == ws);
            bool before = (lw < ww) | ((lw == ww) & (ls < ws)) | (sameStart & (lz < wz));
            if ((sameStart & (lz > 16) & (wz > 16)) != 0) [[unlikely]]
                before = longBefore(loser, winner);
            // Masks, not ?:, which the compiler turns into a branch that
            // fails half the time.
            std::uint64_t take = 0 - static_cast<std::uint64_t>(before);
            std::uint32_t swap = (winner ^ loser) & static_cast<std::uint32_t>(take);
            losers_[node] = loser ^ swap;
            winner ^= swap;
            ww ^= (ww ^ lw) & take;
            ws ^= (ws ^ ls) & take;
            wz ^= (wz ^ lz) & take;
        }
        leaf = winner;
        key = {ww, ws, wz};
    }

    std::size_t leaves_;                 // a power of two, at least 2
    std::vector<CountSource*> sources_;  // one a leaf; none past the sources
    std::vector<RecordBatch> batches_;
    std::vector<std::size_t> at_;                         // each leaf's entry in its batch
    std::vector<std::uint64_t> words_, seconds_, sizes_;  // each leaf's current key
    std::vector<std::uint32_t> losers_;                   // of the inner nodes 1 .. leaves_ - 1
    std::uint32_t winner_ = 0;
};

template <typename Add, typename Emit>
void LoserTree::run(Add&& add, Emit&& emit) {
    if (sources_[1] == nullptr) {
        // One source: its texts are distinct already.
        RecordBatch& batch = batches_[0];
        char shortBytes[16];
        while (sources_[0]->nextBatch(batch))
            for (std::size_t i = 0; i < batch.size; ++i) {
                if (batch.sizes[i] > 16) [[unlikely]] {
                    emit(batch.longText(i), batch.counts[i]);
                    continue;
                }
                keyBytes(batch.key(i), shortBytes);
                emit(std::string_view(shortBytes, batch.sizes[i]), batch.counts[i]);
            }
        return;
    }
    build();
    std::uint32_t leaf = winner_;
    TextKey key{words_[leaf], seconds_[leaf], sizes_[leaf]};
    if (key.size == Finished) return;
    // The entry being summed: its key, and its bytes (the key's, or a copy
    // of a long text, which outlives its source's batch).
    TextKey current = key;
    TextBuffer longBytes;
    char shortBytes[16];
    std::int64_t sum = 0;
    auto hold = [&] {
        current = key;
        if (key.size > 16) [[unlikely]] {
            std::string_view text = longText(leaf);
            std::memcpy(longBytes.keepAndResize(0, text.size()), text.data(), text.size());
        }
    };
    auto release = [&] {
        if (current.size > 16) [[unlikely]]
            return emit(longBytes.view(), sum);
        keyBytes(current, shortBytes);
        emit(std::string_view(shortBytes, current.size), sum);
    };
    hold();
    for (;;) {
        const RecordBatch& batch = batches_[leaf];
        std::size_t at = at_[leaf];
        std::int64_t count = batch.counts[at];
        if (((key.word == current.word) & (key.second == current.second) & (key.size == current.size)) &&
            (current.size <= 16 || longText(leaf) == longBytes.view())) {
            sum = add(sum, count);
        } else {
            release();
            hold();
            sum = count;
        }
        if (++at == batch.size) [[unlikely]] {
            refill(leaf);
            key = {words_[leaf], seconds_[leaf], sizes_[leaf]};
        } else {
            at_[leaf] = at;
            key = batch.key(at);
            words_[leaf] = key.word;
            seconds_[leaf] = key.second;
            sizes_[leaf] = key.size;
        }
        replay(leaf, key);
        if (key.size == Finished) break;
    }
    release();
}

template <typename Add, typename Visit>
void mergeCountsWith(const std::vector<CountSource*>& sources, Add&& add, Visit&& visit) {
    if (!sources.empty()) LoserTree(sources).run(add, visit);
}

template <typename Visit>
void mergeCounts(const std::vector<CountSource*>& sources, Visit&& visit) {
    mergeCountsWith(
        sources, [](std::int64_t sum, std::int64_t count) { return sum + count; }, visit);
}
