#include "common/sorted_runs.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/file_io.h"
#include "common/text_bytes.h"

namespace {

constexpr std::size_t HugePage = std::size_t{2} << 20;

std::size_t roundUp(std::size_t bytes, std::size_t unit) { return (bytes + unit - 1) / unit * unit; }

// Blocks of in-memory runs, in use or kept for reuse.
struct BlockPool {
    std::vector<LargePages> spare;
    std::int64_t bytes = 0;

    LargePages take(std::size_t blockBytes) {
        while (!spare.empty()) {
            LargePages block = std::move(spare.back());
            spare.pop_back();
            if (block.bytes == blockBytes) return block;
            bytes -= static_cast<std::int64_t>(block.bytes);
        }
        LargePages block(blockBytes);
        bytes += static_cast<std::int64_t>(block.bytes);
        return block;
    }
    void giveBack(LargePages block) { spare.push_back(std::move(block)); }
};

// Never destroyed: runs held by other static objects give their blocks
// back while the process ends.
BlockPool& blockPool() {
    static BlockPool& pool = *new BlockPool;
    return pool;
}

}  // namespace

char* TextBuffer::keepAndResize(std::size_t shared, std::size_t length) {
    if (length > capacity_) {
        std::size_t grown = std::max<std::size_t>({length, 2 * capacity_, 64});
        std::unique_ptr<char[]> bytes(new char[grown]);
        if (shared > 0) std::memcpy(bytes.get(), bytes_.get(), shared);
        bytes_ = std::move(bytes);
        capacity_ = grown;
    }
    length_ = length;
    return bytes_.get();
}

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

Run::Run(std::size_t blockBytes)
    : blockBytes_(blockBytes >= HugePage ? roundUp(blockBytes, HugePage) : roundUp(blockBytes, 4096)) {}

Run::Run(const std::string& folder) : file_(std::make_unique<TemporaryFile>(folder)) {}

Run::~Run() {
    for (LargePages& block : blocks_) blockPool().giveBack(std::move(block));
}

void Run::appendSlowly(const char* bytes, std::size_t length) {
    if (file_) {
        file_->write(bytes, length);
        size_ += static_cast<std::int64_t>(length);
        return;
    }
    while (length > 0) {
        if (cursor_ == blockEnd_) {
            blocks_.push_back(blockPool().take(blockBytes_));
            cursor_ = blocks_.back().data;
            blockEnd_ = cursor_ + blockBytes_;
        }
        std::size_t part = std::min(length, static_cast<std::size_t>(blockEnd_ - cursor_));
        std::memcpy(cursor_, bytes, part);
        cursor_ += part;
        size_ += static_cast<std::int64_t>(part);
        bytes += part;
        length -= part;
    }
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

std::int64_t runBlockMemoryInUse() {
    std::int64_t spare = 0;
    for (const LargePages& block : blockPool().spare) spare += static_cast<std::int64_t>(block.bytes);
    return blockPool().bytes - spare;
}

void releaseSpareRunBlocks() {
    BlockPool& pool = blockPool();
    for (const LargePages& block : pool.spare) pool.bytes -= static_cast<std::int64_t>(block.bytes);
    pool.spare.clear();
}

void RunWriter::add(std::string_view text, std::int64_t count) {
    std::size_t shared = sharedPrefix(previous_.view(), text);
    std::size_t rest = text.size() - shared;
    constexpr std::size_t ShortRest = 64, LongestRecord = ShortRest + 3 * 10;
    if (rest <= ShortRest) {
        char record[LongestRecord];
        char* start = run_.room(LongestRecord);
        char* out = appendVarint(start ? start : record, shared);
        out = appendVarint(out, rest);
        copyShort(out, text.data() + shared, rest);
        out = appendVarint(out + rest, static_cast<std::uint64_t>(count));
        if (start)
            run_.advance(static_cast<std::size_t>(out - start));
        else
            run_.append(record, static_cast<std::size_t>(out - record));
    } else {
        char record[3 * 10];
        char* out = appendVarint(appendVarint(record, shared), rest);
        run_.append(record, static_cast<std::size_t>(out - record));
        run_.append(text.data() + shared, rest);
        out = appendVarint(record, static_cast<std::uint64_t>(count));
        run_.append(record, static_cast<std::size_t>(out - record));
    }
    copyShort(previous_.keepAndResize(shared, text.size()) + shared, text.data() + shared, rest);
    ++run_.entries;
}

RunReader::RunReader(const Run& run, std::size_t bufferBytes)
    : run_(run), bufferBytes_(bufferBytes), left_(run.entries) {
    if (run.onDisk()) buffer_.reset(new char[bufferBytes]);
}

void RunReader::refill() {
    std::string_view bytes = run_.bytesAt(offset_, buffer_.get(), bufferBytes_);
    if (bytes.empty()) throw IoError("temporary file", "a run ends inside an entry");
    next_ = bytes.data();
    end_ = bytes.data() + bytes.size();
    offset_ += static_cast<std::int64_t>(bytes.size());
}

unsigned char RunReader::byte() {
    if (next_ == end_) refill();
    return static_cast<unsigned char>(*next_++);
}

std::uint64_t RunReader::varint() {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        unsigned char b = byte();
        value |= std::uint64_t{b & 0x7Fu} << shift;
        if (b < 0x80) return value;
    }
}

bool RunReader::next() {
    if (left_ == 0) return false;
    --left_;
    std::size_t shared, rest;
    if (end_ - next_ >= 2 && static_cast<unsigned char>(next_[0]) < 0x80 &&
        static_cast<unsigned char>(next_[1]) < 0x80) {
        // Nearly every entry: both numbers in one byte each.
        shared = static_cast<unsigned char>(next_[0]);
        rest = static_cast<unsigned char>(next_[1]);
        next_ += 2;
    } else {
        shared = varint();
        rest = varint();
    }
    char* out = current_.keepAndResize(shared, shared + rest) + shared;
    if (rest <= static_cast<std::size_t>(end_ - next_)) {
        copyShort(out, next_, rest);
        next_ += rest;
        rest = 0;
    }
    while (rest > 0) {
        if (next_ == end_) refill();
        std::size_t part = std::min(rest, static_cast<std::size_t>(end_ - next_));
        std::memcpy(out, next_, part);
        out += part;
        next_ += part;
        rest -= part;
    }
    if (next_ != end_ && static_cast<unsigned char>(*next_) < 0x80)
        count_ = static_cast<unsigned char>(*next_++);
    else
        count_ = static_cast<std::int64_t>(varint());
    text_ = current_.view();
    return true;
}
