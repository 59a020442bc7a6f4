// A batch of window keys sorted in its buffer, read as counts where it lies:
// the window sorter's last batch, kept until the next one needs the buffer
// or, after the input's last chunk, kept by the count table for the final
// merge. It becomes a run in pieces of about PieceKeys keys, cut where the
// text changes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "counting/ngram_count_table.h"
#include "counting/window_keys.h"
#include "runs/run_storage.h"

// The first key of its text at or after index x PieceKeys of the `count`
// sorted keys: equal keys stay in one piece.
template <std::size_t Words>
std::size_t sortedPieceStart(const WindowKey<Words>* keys, std::size_t count, std::size_t pieceKeys,
                             std::size_t index) {
    std::size_t at = std::min(index * pieceKeys, count);
    if (at == 0 || at == count) return at;
    const WindowKey<Words>& before = keys[at - 1];
    return static_cast<std::size_t>(
        std::partition_point(keys + at, keys + count,
                             [&](const WindowKey<Words>& key) { return key == before; }) -
        keys);
}

struct SortedBatch final : HeldCounts {
    static constexpr std::size_t PieceKeys = std::size_t{1} << 16;

    // The buffer's first `count` keys are the batch, each of `words` words;
    // none when `count` is 0.
    LargePages keys;
    std::size_t count = 0, words = 0;

    // Calls use with the keys as their type: windows of N up to 19 take one
    // to three words.
    template <typename Use>
    decltype(auto) withKeys(Use&& use) const {
        switch (words) {
            case 1:
                return use(reinterpret_cast<const WindowKey<1>*>(keys.data));
            case 2:
                return use(reinterpret_cast<const WindowKey<2>*>(keys.data));
            default:
                return use(reinterpret_cast<const WindowKey<3>*>(keys.data));
        }
    }

    std::unique_ptr<CountSource> open() const override {
        return withKeys([&]<std::size_t Words>(const WindowKey<Words>* keys) -> std::unique_ptr<CountSource> {
            return std::make_unique<SortedKeys<Words>>(keys, count);
        });
    }
    std::size_t pieces() const override { return (count + PieceKeys - 1) / PieceKeys; }
    std::unique_ptr<CountSource> piece(std::size_t index) const override {
        return withKeys([&]<std::size_t Words>(const WindowKey<Words>* keys) -> std::unique_ptr<CountSource> {
            std::size_t from = sortedPieceStart(keys, count, PieceKeys, index);
            return std::make_unique<SortedKeys<Words>>(
                keys + from, sortedPieceStart(keys, count, PieceKeys, index + 1) - from);
        });
    }
    std::int64_t largestPieceBytes(std::size_t index) const override {
        return withKeys([&]<std::size_t Words>(const WindowKey<Words>* keys) {
            std::size_t from = sortedPieceStart(keys, count, PieceKeys, index);
            return SortedKeys<Words>::largestRunBytes(
                keys + from, sortedPieceStart(keys, count, PieceKeys, index + 1) - from);
        });
    }
    void sampleTexts(std::size_t samples, std::vector<WeightedText>& texts) const override {
        std::size_t stride = std::max<std::size_t>(count / std::max<std::size_t>(samples, 1), 1);
        withKeys([&]<std::size_t Words>(const WindowKey<Words>* keys) {
            char text[8 * Words];
            for (std::size_t i = 0; i < count; i += stride)
                texts.push_back({std::string(text, keys[i].text(text)),
                                 static_cast<std::int64_t>(std::min(stride, count - i))});
        });
    }
};
