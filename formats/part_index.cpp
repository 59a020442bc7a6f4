#include "formats/part_index.h"

#include <algorithm>

#include "common/output_file.h"
#include "formats/part_format.h"

using namespace part_format;

namespace {

// A page's u32 of bytes and its checksum.
constexpr std::size_t PageFrameBytes = 12;
constexpr std::size_t LargestEntryBytes = 1 + IndexedPrefixBytes + 10 + 10 + 8;
constexpr std::size_t LargestPageBytes = PageBlocks * LargestEntryBytes;
// The smallest record: a shared length, a rest length and a count.
constexpr std::int64_t SmallestRecord = 3;
constexpr std::size_t CopyBytes = 64 << 10;

}  // namespace

PartIndexWriter::PartIndexWriter(std::string temporaryFolder, std::size_t memoryBytes)
    : temporaryFolder_(std::move(temporaryFolder)), memoryBytes_(memoryBytes) {}

void PartIndexWriter::add(std::string_view firstText, std::int64_t bytes, std::int64_t entries,
                          std::uint64_t checksum) {
    std::string_view prefix = indexedPrefix(firstText);
    putVarint(page_, prefix.size());
    page_ += prefix;
    putVarint(page_, static_cast<std::uint64_t>(bytes));
    putVarint(page_, static_cast<std::uint64_t>(entries));
    putU64(page_, checksum);
    ++blocks_;
    if (++pageBlocks_ == PageBlocks) closePage();
}

void PartIndexWriter::closePage() {
    if (pageBlocks_ == 0) return;
    std::size_t start = pages_.size();
    putU32(pages_, static_cast<std::uint32_t>(page_.size()));
    pages_ += page_;
    putU64(pages_, partChecksum(pages_.data() + start, pages_.size() - start));
    page_.clear();
    pageBlocks_ = 0;
    if (pages_.size() < memoryBytes_) return;
    if (!spilled_) spilled_ = std::make_unique<TemporaryFile>(temporaryFolder_);
    spilled_->write(pages_.data(), pages_.size());
    pages_.clear();
}

std::int64_t PartIndexWriter::writeTo(OutputFile& out) {
    closePage();
    std::int64_t bytes = static_cast<std::int64_t>(pages_.size());
    if (spilled_) {
        spilled_->finish();
        std::string chunk(CopyBytes, '\0');
        for (std::int64_t offset = 0; offset < spilled_->size();) {
            std::size_t got = spilled_->readAt(offset, chunk.data(), chunk.size());
            if (got == 0)
                throw IoError(temporaryFolder_, "cannot read a temporary file: shorter than written");
            out.write({chunk.data(), got});
            offset += static_cast<std::int64_t>(got);
        }
        bytes += spilled_->size();
        spilled_.reset();
    }
    out.write(pages_);
    std::string().swap(pages_);
    return bytes;
}

PartIndexCursor::PartIndexCursor(int fd, std::string path, const PartIndexBounds& bounds)
    : fd_(fd), path_(std::move(path)), bounds_(bounds) {
    next_.at = bounds.indexOffset;
    next_.bodyOffset = bounds.bodyOffset;
}

void PartIndexCursor::fail(const std::string& reason) const { throw IoError(path_, reason); }

bool PartIndexCursor::nextPage() {
    pageStart_ = next_;
    page_.clear();
    std::int64_t left = bounds_.indexEnd - next_.at;
    if (left == 0) {
        if (next_.bodyOffset != bounds_.indexOffset || next_.blocks != bounds_.blocks ||
            next_.entries != bounds_.entries)
            fail(BadStructure);
        return false;
    }
    if (left < static_cast<std::int64_t>(PageFrameBytes)) fail(BadStructure);
    char size[4];
    readExactly(fd_, path_, next_.at, size, sizeof size);
    std::size_t entryBytes = getU32(size);
    if (entryBytes > LargestPageBytes || static_cast<std::int64_t>(entryBytes + PageFrameBytes) > left)
        fail(BadStructure);
    bytes_.resize(entryBytes + PageFrameBytes);
    readExactly(fd_, path_, next_.at, bytes_.data(), bytes_.size());
    if (partChecksum(bytes_.data(), 4 + entryBytes) != getU64(bytes_.data() + 4 + entryBytes))
        fail(BadChecksum);
    auto entries = reinterpret_cast<const unsigned char*>(bytes_.data() + 4);
    readPage(entries, entries + entryBytes);
    next_.at += static_cast<std::int64_t>(bytes_.size());
    return true;
}

void PartIndexCursor::readPage(const unsigned char* in, const unsigned char* end) {
    auto number = [&](std::uint64_t& value) {
        if (!readBoundedVarint(in, end, value)) fail(BadStructure);
    };
    while (in < end) {
        std::uint64_t prefixBytes, bytes, entries;
        number(prefixBytes);
        if (prefixBytes > IndexedPrefixBytes || prefixBytes > static_cast<std::uint64_t>(end - in))
            fail(BadStructure);
        std::string_view prefix(reinterpret_cast<const char*>(in), prefixBytes);
        in += prefixBytes;
        number(bytes);
        number(entries);
        if (end - in < 8) fail(BadStructure);
        std::uint64_t checksum = getU64(reinterpret_cast<const char*>(in));
        in += 8;
        std::string_view last = next_.lastPrefix;
        bool fits = page_.size() < PageBlocks && entries >= 1 &&
                    bytes <= static_cast<std::uint64_t>(bounds_.indexOffset - next_.bodyOffset) &&
                    entries <= bytes / SmallestRecord;
        bool ordered =
            next_.blocks == 0 || (last.size() < IndexedPrefixBytes ? last < prefix : last <= prefix);
        if (!fits || !ordered) fail(BadStructure);
        page_.push_back({prefix, next_.bodyOffset, static_cast<std::int64_t>(bytes),
                         static_cast<std::int64_t>(entries), checksum});
        next_.bodyOffset += static_cast<std::int64_t>(bytes);
        next_.entries += static_cast<std::int64_t>(entries);
        ++next_.blocks;
        next_.lastPrefix.assign(prefix);
    }
    if (page_.empty()) fail(BadStructure);
}

void PartIndexCursor::returnTo(const Position& position) {
    next_ = position;
    if (!nextPage()) fail(BadStructure);
}

void PartPages::add(std::string_view firstPrefix, const PartIndexCursor::Position& position) {
    prefixes_.emplace_back(firstPrefix);
    positions_.push_back(position);
    bytes_ += static_cast<std::int64_t>(sizeof(std::string) + sizeof(PartIndexCursor::Position) +
                                        firstPrefix.size() + position.lastPrefix.size());
}

const PartIndexCursor::Position* PartPages::before(std::string_view text) const {
    std::string_view key = indexedPrefix(text);
    auto after = std::lower_bound(prefixes_.begin(), prefixes_.end(), key,
                                  [](const std::string& prefix, std::string_view k) { return prefix < k; });
    if (after == prefixes_.begin()) return nullptr;
    return &positions_[static_cast<std::size_t>(after - prefixes_.begin()) - 1];
}
