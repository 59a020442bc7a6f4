#include "runs/merge_policy.h"

#include <algorithm>

#include "common/file_io.h"

std::size_t openFilesLeft() {
    std::optional<DescriptorUse> use = descriptorUse();
    if (!use) return MostOpenFiles;
    std::size_t allowed = std::min(use->limit, MostOpenFiles);
    return allowed > use->open + DescriptorMargin + 2 ? allowed - use->open - DescriptorMargin : 2;
}

std::size_t readBufferShare(std::int64_t bytes, std::size_t readers) {
    std::int64_t share =
        std::max<std::int64_t>(bytes, 0) / static_cast<std::int64_t>(std::max<std::size_t>(readers, 1));
    return static_cast<std::size_t>(std::clamp<std::int64_t>(share, SmallestReadBuffer, LargestReadBuffer));
}

MergeLimits mergeLimitsFor(std::size_t sources, std::int64_t memory, std::string temporaryFolder,
                           std::size_t merges, std::size_t otherFiles, std::size_t mostWidth,
                           bool sourcesOpen) {
    std::size_t budget = static_cast<std::size_t>(std::max<std::int64_t>(memory, 0));
    std::size_t left = openFilesLeft();
    left = (left > otherFiles ? left - otherFiles : 0) / std::max<std::size_t>(merges, 1);
    // The run being written takes a descriptor and a buffer of its own.
    std::size_t fitting = std::max<std::size_t>(budget / (SmallestReadBuffer + SourceBytes), 1) - 1;
    std::size_t byDescriptors = left > 0 ? left - 1 : 0;
    if (sourcesOpen) byDescriptors = sources <= fitting ? MostOpenFiles : 2 * byDescriptors;
    std::size_t roomFor = std::min(byDescriptors, fitting);
    std::size_t width =
        std::min({std::max(LeastMergeWidth, roomFor), std::max<std::size_t>(sources, 1), mostWidth});
    width = std::max<std::size_t>(width, 1);
    return {width, readBufferShare(memory, width + 1), std::move(temporaryFolder)};
}
