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
