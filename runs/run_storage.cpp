#include "runs/run_storage.h"

#include <sys/mman.h>

#include <new>

#include "common/file_io.h"

namespace {

constexpr std::size_t HugePage = std::size_t{2} << 20;

std::size_t roundUp(std::size_t bytes, std::size_t unit) { return (bytes + unit - 1) / unit * unit; }

}  // namespace

LargePages::LargePages(std::size_t wanted) {
    // Mapped with a huge page to spare, so that the block can start on a
    // huge-page boundary; the parts before and after go back at once.
    // A block below a huge page stays on small pages: rounded up, it would
    // hold (and, touched, take) a whole huge page.
    bool huge = wanted >= HugePage;
    std::size_t length = roundUp(wanted, huge ? HugePage : 4096);
    std::size_t mapped = huge ? length + HugePage : length;
    void* start = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED) throw std::bad_alloc();
    auto* raw = static_cast<char*>(start);
    char* aligned =
        huge ? reinterpret_cast<char*>(roundUp(reinterpret_cast<std::uintptr_t>(raw), HugePage)) : raw;
    if (aligned > raw) munmap(raw, static_cast<std::size_t>(aligned - raw));
    if (char* tail = aligned + length; tail < raw + mapped)
        munmap(tail, static_cast<std::size_t>(raw + mapped - tail));
    if (huge) madvise(aligned, length, MADV_HUGEPAGE);
    data = aligned;
    bytes = length;
}

LargePages::~LargePages() {
    if (data) munmap(data, bytes);
}

LargePages BlockPool::take(std::size_t blockBytes) {
    while (!spare_.empty()) {
        LargePages block = std::move(spare_.back());
        spare_.pop_back();
        if (block.bytes == blockBytes) return block;
        bytes_ -= static_cast<std::int64_t>(block.bytes);
    }
    LargePages block(blockBytes);
    bytes_ += static_cast<std::int64_t>(block.bytes);
    return block;
}

std::int64_t BlockPool::inUse() const {
    std::int64_t spare = 0;
    for (const LargePages& block : spare_) spare += static_cast<std::int64_t>(block.bytes);
    return bytes_ - spare;
}

void BlockPool::releaseSpare() {
    for (const LargePages& block : spare_) bytes_ -= static_cast<std::int64_t>(block.bytes);
    spare_.clear();
}

Run::Run(BlockPool& pool, std::size_t blockBytes)
    : pool_(&pool),
      blockBytes_(blockBytes >= HugePage ? roundUp(blockBytes, HugePage) : roundUp(blockBytes, 4096)) {}

Run::Run(const std::string& folder) : file_(std::make_unique<TemporaryFile>(folder)) {}

Run::~Run() {
    for (LargePages& block : blocks_) pool_->giveBack(std::move(block));
}

void Run::appendSlowly(const char* bytes, std::size_t length) {
    if (file_) {
        file_->write(bytes, length);
        size_ += static_cast<std::int64_t>(length);
        return;
    }
    for (std::span<char> part : reserve(length)) {
        std::memcpy(part.data(), bytes, part.size());
        bytes += part.size();
    }
}

std::vector<std::span<char>> Run::reserve(std::size_t length) {
    std::vector<std::span<char>> spans;
    if (file_) return spans;
    while (length > 0) {
        if (cursor_ == blockEnd_) {
            blocks_.push_back(pool_->take(blockBytes_));
            cursor_ = blocks_.back().data;
            blockEnd_ = cursor_ + blockBytes_;
        }
        std::size_t part = std::min(length, static_cast<std::size_t>(blockEnd_ - cursor_));
        spans.emplace_back(cursor_, part);
        cursor_ += part;
        size_ += static_cast<std::int64_t>(part);
        length -= part;
    }
    return spans;
}

void Run::finish() {
    if (file_) file_->finish();
}

std::string_view Run::bytesAt(std::int64_t offset, char* buffer, std::size_t bufferBytes) const {
    if (offset >= size_) return {};
    if (file_) {
        std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(size_ - offset, bufferBytes));
        std::size_t got = file_->readAt(offset, buffer, wanted);
        if (got == 0) throw IoError("temporary file", "shorter than written");
        return {buffer, got};
    }
    std::size_t block = static_cast<std::size_t>(offset) / blockBytes_;
    std::size_t within = static_cast<std::size_t>(offset) % blockBytes_;
    std::size_t length =
        std::min<std::size_t>(blockBytes_ - within, static_cast<std::size_t>(size_ - offset));
    return {blocks_[block].data + within, length};
}
