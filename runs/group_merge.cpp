#include "runs/group_merge.h"

#include <algorithm>

void CheckedSum::overflow() const {
    throw IoError(path,
                  "a text's counts add up to more than 9223372036854775807, "
                  "the largest count a count file holds");
}

RunPile::RunPile(const MergeLimits& limits, std::size_t most, const std::string& overflowPath)
    : limits_(limits), most_(std::max<std::size_t>(most, 2)), overflowPath_(overflowPath) {}

std::unique_ptr<Run> RunPile::newRun() {
    ++made_;
    return std::make_unique<Run>(limits_.temporaryFolder);
}

void RunPile::add(std::unique_ptr<Run> run) {
    bytes_ += run->size();
    peak_ = std::max(peak_, bytes_);
    runs_.push_back(std::move(run));
    bound();
}

std::unique_ptr<Run> RunPile::merged(const std::vector<SourceOpener>& sources) {
    std::unique_ptr<Run> run = newRun();
    RunWriter writer(*run);
    std::vector<std::unique_ptr<CountSource>> open;
    std::vector<CountSource*> readers;
    for (const SourceOpener& opener : sources) {
        open.push_back(opener(limits_.bufferBytes));
        readers.push_back(open.back().get());
    }
    mergeCountsWith(readers, CheckedSum{overflowPath_},
                    [&](std::string_view text, std::int64_t count) { writer.add(text, count); });
    writer.finish();
    return run;
}

void RunPile::addMerged(const std::vector<SourceOpener>& sources) { add(merged(sources)); }

void RunPile::mergeSmallest(std::size_t count) {
    count = std::clamp<std::size_t>(count, 2, std::max<std::size_t>(limits_.width, 2));
    if (runs_.size() < 2) return;
    count = std::min(count, runs_.size());
    std::stable_sort(runs_.begin(), runs_.end(),
                     [](const auto& a, const auto& b) { return a->size() < b->size(); });
    std::vector<SourceOpener> openers;
    std::int64_t freed = 0;
    for (std::size_t i = 0; i < count; ++i) {
        openers.push_back(openerOf(*runs_[i]));
        freed += runs_[i]->size();
    }
    std::unique_ptr<Run> into = merged(openers);
    // Both the runs merged and their merge are on disk until now.
    peak_ = std::max(peak_, bytes_ + into->size());
    runs_.erase(runs_.begin(), runs_.begin() + static_cast<std::ptrdiff_t>(count));
    bytes_ -= freed;
    add(std::move(into));
}

// mergeSmallest adds its run, which comes back here.
void RunPile::bound() {
    if (runs_.size() < 2) return;
    std::int64_t largest = 0;
    for (const auto& run : runs_) largest = std::max(largest, run->size());
    if (runs_.size() + 1 >= most_)
        mergeSmallest(runs_.size() / 2);
    else if (bytes_ > 2 * largest)
        mergeSmallest(runs_.size());
}

SourceOpener openerOf(const Run& run) {
    return [&run](std::size_t bufferBytes) { return std::make_unique<RunReader>(run, bufferBytes); };
}

void mergeGroups(const std::vector<SourceOpener>& sources, RunPile& pile, std::size_t group) {
    group = std::max<std::size_t>(group, 2);
    for (std::size_t start = 0; start < sources.size(); start += group) {
        auto first = sources.begin() + static_cast<std::ptrdiff_t>(start);
        pile.addMerged({first, first + static_cast<std::ptrdiff_t>(std::min(group, sources.size() - start))});
    }
}
