#include "tallomer-merge/part_indexes.h"

#include <algorithm>
#include <new>

#include "formats/part_file.h"

namespace {

// No entries are read: the reader's buffer is never made.
constexpr std::size_t NoBuffer = 0;

class Sample {
public:
    Sample(std::int64_t stride, std::int64_t pageStride, std::int64_t memoryBudget)
        : stride_(stride), pageStride_(pageStride), budget_(memoryBudget) {}

    void addPart(const PartReader& part, std::vector<WeightedText>& texts, PartPages& pages,
                 ProgressLine* progress) {
        std::int64_t blocks = part.blocks(), block = 0, runBytes = 0;
        std::string middle;
        PartIndexCursor index = part.index();
        for (std::int64_t page = 0; index.nextPage(); ++page) {
            if (progress) progress->add(static_cast<std::int64_t>(index.page().size()));
            if (page > 0 && page % pageStride_ == 0) {
                bytes_ -= pages.bytes();
                pages.add(index.page().front().prefix, index.position());
                bytes_ += pages.bytes();
                if (bytes_ > budget_) throw std::bad_alloc();
            }
            for (const PartBlock& entry : index.page()) {
                std::int64_t start = block / stride_ * stride_, end = std::min(start + stride_, blocks);
                if (block == start + (end - start) / 2) middle.assign(entry.prefix);
                runBytes += entry.bytes;
                if (++block != end) continue;
                // The text is held by the sample, and sorted once more by
                // the split points.
                bytes_ += static_cast<std::int64_t>(2 * sizeof(WeightedText) + middle.size());
                if (bytes_ > budget_) throw std::bad_alloc();
                texts.push_back({middle, runBytes});
                runBytes = 0;
            }
        }
    }

private:
    std::int64_t stride_, pageStride_, budget_, bytes_ = 0;
};

}  // namespace

PartIndexes readPartIndexes(const std::vector<std::string>& paths, std::int64_t memoryBudget,
                            std::int64_t mostSampled, ProgressLine* progress) {
    PartIndexes indexes;
    std::vector<std::int64_t> blocks;
    for (const std::string& path : paths) {
        PartReader part(path, NoBuffer);
        indexes.parts.push_back({path, part.header()});
        blocks.push_back(part.blocks());
    }
    std::int64_t total = 0, sampled = 0;
    for (std::int64_t partBlocks : blocks) total += partBlocks;
    std::int64_t stride = std::max<std::int64_t>(1, (total + mostSampled - 1) / mostSampled);
    std::int64_t pages = 0;
    for (std::int64_t partBlocks : blocks) pages += (partBlocks + PageBlocks - 1) / PageBlocks;
    std::int64_t pageStride = std::max<std::int64_t>(1, (pages + MostNotedPages - 1) / MostNotedPages);
    for (std::int64_t partBlocks : blocks) sampled += (partBlocks + stride - 1) / stride;
    indexes.firstTexts.reserve(static_cast<std::size_t>(sampled));
    Sample sample(stride, pageStride, memoryBudget);
    if (progress) progress->startPhase("reading the part indexes", total, "blocks");
    indexes.pages.resize(paths.size());
    for (std::size_t part = 0; part < paths.size(); ++part)
        sample.addPart(PartReader(paths[part], NoBuffer), indexes.firstTexts, indexes.pages[part], progress);
    return indexes;
}
