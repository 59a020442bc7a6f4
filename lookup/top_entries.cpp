#include "lookup/top_entries.h"

#include <algorithm>

#include "common/parallel.h"
#include "formats/entry_locator.h"
#include "formats/entry_pieces.h"

void TopEntries::add(std::int64_t count, std::int64_t start, std::string_view text) {
    if (kept_.size() < k_) {
        kept_.push_back({count, start, std::string(text)});
    } else {
        // The worst goes to the back, and its string's room takes the text.
        std::pop_heap(kept_.begin(), kept_.end(), ranksAbove);
        kept_.back().count = count;
        kept_.back().start = start;
        kept_.back().text.assign(text);
    }
    std::push_heap(kept_.begin(), kept_.end(), ranksAbove);
    if (kept_.size() == k_) {
        leastDigits_ = 0;
        for (std::int64_t worst = kept_.front().count; worst > 0; worst /= 10) ++leastDigits_;
    }
}

std::vector<RankedEntry> TopEntries::ranked() {
    std::sort_heap(kept_.begin(), kept_.end(), ranksAbove);
    return std::move(kept_);
}

std::vector<RankedEntry> topEntries(const std::string& path, std::int64_t k, std::size_t pieces) {
    EntryLocator whole(path);
    whole.checkEnd();
    std::int64_t size = whole.size();
    std::vector<std::vector<RankedEntry>> best(pieces);
    runInParallel(pieces, [&](std::size_t i) {
        TopEntries top(k);
        EntryPiece piece(path, pieceCut(size, i, pieces), pieceCut(size, i + 1, pieces));
        piece.forEach(
            [&](EntryPiece::Entry& entry) {
                if (top.wants(entry.count())) top.add(entry.count(), entry.start(), entry.text());
            },
            [&] { return top.leastDigits(); });
        best[i] = top.ranked();
    });
    // Each piece's best K, in file order: the file's best K are among them.
    std::vector<RankedEntry> all;
    for (auto& some : best) std::move(some.begin(), some.end(), std::back_inserter(all));
    auto kept = std::min(all.size(), static_cast<std::size_t>(k));
    std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(kept), all.end(), ranksAbove);
    all.resize(kept);
    return all;
}
