#include "runs/run_store.h"

#include <algorithm>

#include "common/file_io.h"
#include "runs/count_merge.h"
#include "runs/merge_policy.h"

RunStore::RunStore() = default;

void RunStore::clear() {
    openWriter_.reset();
    openRun_.reset();
    memoryRuns_.clear();
    disk_.reset();
    pool_.releaseSpare();
}

void RunStore::configure(const CountingLimits& limits) {
    clear();
    limits_ = limits;
}

// A fifth of the memory for the buffers of a merge and the run it writes.
MergeLimits RunStore::mergeLimits() const {
    return mergeLimitsFor(limits_.maxMergeWidth, available() / 5, limits_.temporaryFolder, 1, 0,
                          std::max<std::size_t>(limits_.maxMergeWidth, 2));
}

std::size_t RunStore::blockBytes() const {
    return static_cast<std::size_t>(std::clamp<std::int64_t>(runsLimit() / 64, 64 << 10, 4 << 20));
}

// A disk run holds a descriptor, and a merge opens its sources and the run
// it writes: the pile keeps fewer runs than a merge reads.
RunPile& RunStore::disk() {
    if (!disk_) {
        MergeLimits limits = mergeLimits();
        disk_ = std::make_unique<RunPile>(limits, limits.width, overflowPath_);
    }
    return *disk_;
}

CountingStatistics RunStore::statistics() const {
    if (!disk_) return {};
    return {disk_->runsMade(), disk_->bytesPeak()};
}

std::unique_ptr<Run> RunStore::mergedMemoryRuns(std::unique_ptr<Run> into) {
    std::vector<std::unique_ptr<CountSource>> readers;
    std::vector<CountSource*> sources;
    for (const auto& run : memoryRuns_) {
        readers.push_back(std::make_unique<RunReader>(*run, 0));
        sources.push_back(readers.back().get());
    }
    RunWriter writer(*into);
    mergeCounts(sources, [&](std::string_view text, std::int64_t count) { writer.add(text, count); });
    writer.finish();
    readers.clear();
    memoryRuns_.clear();
    return into;
}

void RunStore::spillMemoryRuns() {
    if (memoryRuns_.empty()) return;
    RunPile& disk = this->disk();
    disk.add(mergedMemoryRuns(disk.newRun()));
}

// Many small runs cost the final merge more than one larger run.
void RunStore::compactMemoryRuns() {
    if (memoryRuns_.size() < std::max<std::size_t>(2, limits_.maxMergeWidth / 4)) return;
    if (2 * pool_.inUse() > runsLimit()) {
        spillMemoryRuns();
        return;
    }
    std::unique_ptr<Run> merged = mergedMemoryRuns(std::make_unique<Run>(pool_, blockBytes()));
    memoryRuns_.push_back(std::move(merged));
}

// Merging the memory runs out to disk instead of writing a run there would
// read and write their entries once more.
void RunStore::begin(std::int64_t largestBytes) {
    if (pool_.inUse() + largestBytes > runsLimit())
        openRun_ = disk().newRun();
    else
        openRun_ = std::make_unique<Run>(pool_, blockBytes());
    openWriter_ = std::make_unique<RunWriter>(*openRun_);
}

void RunStore::end() {
    openWriter_->finish();
    openWriter_.reset();
    if (openRun_->onDisk()) {
        disk().add(std::move(openRun_));
    } else {
        memoryRuns_.push_back(std::move(openRun_));
        compactMemoryRuns();
    }
}

void RunStore::mergeDownTo(std::size_t others) {
    std::size_t width = mergeLimits().width;
    for (;;) {
        std::size_t onDisk = disk_ ? disk_->size() : 0;
        if (onDisk + memoryRuns_.size() + others <= width) return;
        if (onDisk >= 2) {
            disk_->mergeSmallest(onDisk + memoryRuns_.size() + others - width + 1);
        } else if (!memoryRuns_.empty()) {
            spillMemoryRuns();
        } else {
            return;  // the others alone are more than a merge reads
        }
    }
}

void RunStore::addRun(CountSource& source, std::int64_t largestBytes) {
    begin(largestBytes);
    while (source.next()) add(source.text(), source.count());
    end();
}

void RunStore::addRun(const PiecewiseSource& source) {
    begin(largestRunBytes(source, threads()));
    writePieces(*openRun_, source, threads());
    end();
}

std::vector<const Run*> RunStore::allRuns() const {
    std::vector<const Run*> runs;
    if (disk_)
        for (const auto& run : disk_->runs()) runs.push_back(run.get());
    for (const auto& run : memoryRuns_) runs.push_back(run.get());
    return runs;
}

void RunStore::openAll(std::vector<std::unique_ptr<CountSource>>& readers, std::size_t merges) const {
    std::size_t bytes = mergeLimits().bufferBytes;
    if (merges > 1) bytes = std::max<std::size_t>(bytes / (2 * merges), SmallestReadBuffer);
    for (const Run* run : allRuns()) readers.push_back(std::make_unique<RunReader>(*run, bytes));
}

void RunStore::sampleTexts(std::vector<WeightedText>& texts) const {
    for (const Run* run : allRuns()) {
        std::int64_t before = 0;
        std::string text;
        for (const RunCheckpoint& point : run->checkpoints) {
            texts.push_back({std::move(text), point.entriesBefore - before});
            text = point.previous;
            before = point.entriesBefore;
        }
        texts.push_back({std::move(text), run->entries - before});
    }
}
