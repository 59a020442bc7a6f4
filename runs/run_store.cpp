#include "runs/run_store.h"

#include <algorithm>

#include "common/file_io.h"
#include "runs/count_merge.h"
#include "runs/merge_policy.h"

RunStore::RunStore() : openFilesLeft_(openFilesLeft()) {}

void RunStore::clear() {
    openWriter_.reset();
    openRun_.reset();
    memoryRuns_.clear();
    diskRuns_.clear();
    pool_.releaseSpare();
    temporaryBytes_ = 0;
    largestDiskRun_ = 0;
    openFilesLeft_ = openFilesLeft();
    statistics_ = {};
}

void RunStore::configure(const CountingLimits& limits) {
    clear();
    limits_ = limits;
}

// A merge opens its sources and the run it writes.
std::size_t RunStore::mergeWidth() const {
    return std::max<std::size_t>(2, std::min(limits_.maxMergeWidth, openFilesLeft_ - 1));
}
std::size_t RunStore::readBufferBytes() const { return readBufferShare(available() / 5, mergeWidth() + 1); }
std::size_t RunStore::blockBytes() const {
    return static_cast<std::size_t>(std::clamp<std::int64_t>(runsLimit() / 64, 64 << 10, 4 << 20));
}

std::unique_ptr<Run> RunStore::newDiskRun() {
    ++statistics_.runsSpilled;
    return std::make_unique<Run>(limits_.temporaryFolder);
}

void RunStore::noteDiskBytes(std::int64_t change) {
    temporaryBytes_ += change;
    statistics_.temporaryBytesPeak = std::max(statistics_.temporaryBytesPeak, temporaryBytes_);
}

// Merges the first `group` runs into `into`, then drops them.
std::unique_ptr<Run> RunStore::mergeAway(std::vector<std::unique_ptr<Run>>& runs, std::size_t group,
                                         std::unique_ptr<Run> into) {
    std::vector<std::unique_ptr<CountSource>> readers;
    std::vector<CountSource*> sources;
    for (std::size_t i = 0; i < group; ++i) {
        readers.push_back(std::make_unique<RunReader>(*runs[i], readBufferBytes()));
        sources.push_back(readers.back().get());
    }
    RunWriter writer(*into);
    mergeCounts(sources, [&](std::string_view text, std::int64_t count) { writer.add(text, count); });
    writer.finish();
    readers.clear();
    runs.erase(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(group));
    return into;
}

void RunStore::addDiskRun(std::unique_ptr<Run> run) {
    noteDiskBytes(run->size());
    largestDiskRun_ = std::max(largestDiskRun_, run->size());
    diskRuns_.push_back(std::move(run));
}

// Merges the first `group` disk runs into one.
void RunStore::mergeDiskRuns(std::size_t group) {
    std::int64_t freed = 0;
    for (std::size_t i = 0; i < group; ++i) freed += diskRuns_[i]->size();
    addDiskRun(mergeAway(diskRuns_, group, newDiskRun()));
    noteDiskBytes(-freed);
}

// Too many runs: the smaller half is merged, so a text is merged again
// only once the runs of its size have piled up.
void RunStore::mergeSmallerDiskRuns() {
    std::stable_sort(diskRuns_.begin(), diskRuns_.end(),
                     [](const auto& a, const auto& b) { return a->size() < b->size(); });
    mergeDiskRuns(std::max<std::size_t>(2, diskRuns_.size() / 2));
}

void RunStore::boundDiskRuns() {
    for (;;) {
        if (diskRuns_.size() >= 2 && diskRuns_.size() + 1 >= mergeWidth())
            mergeSmallerDiskRuns();
        else if (diskRuns_.size() >= 2 && temporaryBytes_ > 2 * largestDiskRun_)
            mergeDiskRuns(std::min(diskRuns_.size(), mergeWidth()));
        else
            return;
    }
}

void RunStore::spillMemoryRuns() {
    if (memoryRuns_.empty()) return;
    addDiskRun(mergeAway(memoryRuns_, memoryRuns_.size(), newDiskRun()));
    boundDiskRuns();
}

// Many small runs cost the final merge more than one larger run.
void RunStore::compactMemoryRuns() {
    if (memoryRuns_.size() < std::max<std::size_t>(2, limits_.maxMergeWidth / 4)) return;
    if (2 * pool_.inUse() > runsLimit()) {
        spillMemoryRuns();
        return;
    }
    std::unique_ptr<Run> merged = std::make_unique<Run>(pool_, blockBytes());
    memoryRuns_.push_back(mergeAway(memoryRuns_, memoryRuns_.size(), std::move(merged)));
}

// Merging the memory runs out to disk instead of writing a run there would
// read and write their entries once more.
void RunStore::begin(std::int64_t largestBytes) {
    if (pool_.inUse() + largestBytes > runsLimit())
        openRun_ = newDiskRun();
    else
        openRun_ = std::make_unique<Run>(pool_, blockBytes());
    openWriter_ = std::make_unique<RunWriter>(*openRun_);
}

void RunStore::end() {
    openWriter_->finish();
    openWriter_.reset();
    if (openRun_->onDisk()) {
        addDiskRun(std::move(openRun_));
        boundDiskRuns();
    } else {
        memoryRuns_.push_back(std::move(openRun_));
        compactMemoryRuns();
    }
}

void RunStore::mergeDownTo(std::size_t others) {
    std::size_t width = mergeWidth();
    while (diskRuns_.size() + memoryRuns_.size() + others > width) {
        if (diskRuns_.size() < 2) {
            spillMemoryRuns();
            continue;
        }
        mergeDiskRuns(std::min(width, diskRuns_.size()));
    }
}

void RunStore::addRun(CountSource& source, std::int64_t largestBytes) {
    begin(largestBytes);
    while (source.next()) add(source.text(), source.count());
    end();
}

void RunStore::openAll(std::vector<std::unique_ptr<CountSource>>& readers, std::size_t merges) const {
    std::size_t bytes = readBufferBytes();
    if (merges > 1) bytes = std::max<std::size_t>(bytes / (2 * merges), 4 << 10);
    for (auto* runs : {&diskRuns_, &memoryRuns_})
        for (auto& run : *runs) readers.push_back(std::make_unique<RunReader>(*run, bytes));
}

void RunStore::sampleTexts(std::vector<WeightedText>& texts) const {
    for (auto* runs : {&diskRuns_, &memoryRuns_})
        for (auto& run : *runs) {
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
