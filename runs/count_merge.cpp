#include "runs/count_merge.h"

#include <algorithm>

LoserTree::LoserTree(const std::vector<CountSource*>& sources) {
    leaves_ = 2;
    while (leaves_ < sources.size()) leaves_ *= 2;
    sources_ = sources;
    sources_.resize(leaves_, nullptr);
    batches_.resize(leaves_);
    at_.assign(leaves_, 0);
    words_.assign(leaves_, Finished);
    seconds_.assign(leaves_, Finished);
    sizes_.assign(leaves_, Finished);
    losers_.assign(leaves_, 0);
}

void LoserTree::refill(std::uint32_t leaf) {
    RecordBatch& batch = batches_[leaf];
    at_[leaf] = 0;
    if (!sources_[leaf]->nextBatch(batch)) {
        words_[leaf] = seconds_[leaf] = sizes_[leaf] = Finished;
        return;
    }
    words_[leaf] = batch.words[0];
    seconds_[leaf] = batch.seconds[0];
    sizes_[leaf] = batch.sizes[0];
}

bool LoserTree::longBefore(std::uint32_t a, std::uint32_t b) const {
    if (sizes_[a] == Finished || sizes_[b] == Finished) return sizes_[b] == Finished && sizes_[a] != Finished;
    return longText(a).substr(16) < longText(b).substr(16);
}

// Plays every match from the leaves up, keeping each one's loser.
void LoserTree::build() {
    for (std::uint32_t leaf = 0; leaf < leaves_; ++leaf)
        if (sources_[leaf]) refill(leaf);
    std::vector<std::uint32_t> winners(2 * leaves_);
    for (std::uint32_t leaf = 0; leaf < leaves_; ++leaf) winners[leaves_ + leaf] = leaf;
    auto before = [&](std::uint32_t a, std::uint32_t b) {
        if (words_[a] != words_[b]) return words_[a] < words_[b];
        if (seconds_[a] != seconds_[b]) return seconds_[a] < seconds_[b];
        if (sizes_[a] > 16 && sizes_[b] > 16) return longBefore(a, b);
        return sizes_[a] < sizes_[b];
    };
    for (std::size_t node = leaves_ - 1; node > 0; --node) {
        std::uint32_t left = winners[2 * node], right = winners[2 * node + 1];
        bool rightFirst = before(right, left);
        winners[node] = rightFirst ? right : left;
        losers_[node] = rightFirst ? left : right;
    }
    winner_ = winners[1];
}
