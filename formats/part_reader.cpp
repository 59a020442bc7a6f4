#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "formats/part_file.h"
#include "formats/part_format.h"
#include "formats/record_codec.h"

using namespace part_format;

PartReader::PartReader(const std::string& path, std::size_t bufferBytes)
    : path_(path), bufferBytes_(bufferBytes) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    file_.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file_.fd < 0) fail(systemReason());
    struct stat status;
    if (fstat(file_.fd, &status) != 0) fail(systemReason());
    if (S_ISDIR(status.st_mode)) fail("is a directory");
    if (!S_ISREG(status.st_mode)) fail("not a regular file");
    std::int64_t size = status.st_size;

    char magic[sizeof Magic];
    if (size < static_cast<std::int64_t>(sizeof Magic)) fail(NotAPartFile);
    readExactly(file_.fd, path_, 0, magic, sizeof magic);
    if (std::memcmp(magic, Magic, MagicBytes) != 0) fail(NotAPartFile);
    unsigned version = static_cast<unsigned char>(magic[MagicBytes]);
    if (version < Version)
        fail("part file of the older version " + std::to_string(version) +
             ", which does not tell versions of an input apart: count the part again");
    if (version != Version) fail("part file of an unknown version " + std::to_string(version));
    if (size < static_cast<std::int64_t>(FixedHeaderBytes + HeaderChecksumBytes + TrailerBytes))
        fail(Truncated);

    PartTrailer trailer = readTrailer(file_.fd, path_, size);
    std::int64_t indexEnd = size - static_cast<std::int64_t>(TrailerBytes);
    if (trailer.indexOffset < 0 || trailer.indexOffset > indexEnd ||
        trailer.indexBytes != indexEnd - trailer.indexOffset || trailer.blocks < 0 ||
        trailer.entries < trailer.blocks || trailer.totalCount < 0)
        fail(BadStructure);
    totalCount_ = trailer.totalCount;
    bounds_ = {0, trailer.indexOffset, indexEnd, trailer.blocks, trailer.entries};
    readHeader(trailer.indexOffset);
    // Each entry takes at least three bytes of the body, each block at
    // least eleven of the index.
    if (trailer.entries > (trailer.indexOffset - bounds_.bodyOffset) / 3 ||
        trailer.blocks > trailer.indexBytes / 11)
        fail(BadStructure);
    pages_.emplace(file_.fd, path_, bounds_);
    rangeStart_ = bounds_.bodyOffset;
}

PartReader::Descriptor::~Descriptor() {
    if (fd >= 0) ::close(fd);
}

void PartReader::fail(const std::string& reason) const { throw IoError(path_, reason); }

void PartReader::readHeader(std::int64_t bodyEnd) {
    char fixed[FixedHeaderBytes];
    readExactly(file_.fd, path_, 0, fixed, sizeof fixed);
    std::size_t bytesInHeader = headerSize(fixed);
    if (bytesInHeader == 0 || static_cast<std::int64_t>(bytesInHeader) > bodyEnd) fail(BadStructure);
    std::string bytes(bytesInHeader, '\0');
    readExactly(file_.fd, path_, 0, bytes.data(), bytes.size());
    if (!decodeHeader(bytes, header_)) fail(BadChecksum);
    bool valid = (header_.mode == 'c' || header_.mode == 'w') && header_.n >= 1 && header_.from >= 0 &&
                 header_.from <= header_.to && header_.to <= header_.input.size;
    if (!valid) fail(BadStructure);
    bounds_.bodyOffset = static_cast<std::int64_t>(bytesInHeader);
}

void PartReader::restrictTo(std::string_view from, std::optional<std::string_view> to,
                            const PartPages* pages) {
    if (started_) throw std::logic_error("PartReader::restrictTo after next()");
    restricted_ = true;
    beforeFrom_ = !from.empty();
    if (beforeFrom_) rangeStart_ = -1;
    from_ = std::string(from);
    if (to) {
        to_ = std::string(*to);
        toPrefix_ = std::string(indexedPrefix(*to));
    }
    // The blocks before one whose prefix is less than from's hold only
    // texts less than `from`; a block whose prefix is not less may begin
    // at `from` or past it, also where the prefixes are equal, so the range
    // starts at the last block of the first kind.
    std::string_view key = indexedPrefix(from);
    if (key.empty()) return;
    auto before = [](const PartBlock& block, std::string_view text) { return block.prefix < text; };
    std::optional<PartIndexCursor::Position> previous;
    // A noted page starts before `from`: the range starts in it or past it.
    const PartIndexCursor::Position* noted = pages ? pages->before(from) : nullptr;
    for (bool loaded = noted ? (pages_->returnTo(*noted), true) : pages_->nextPage(); loaded;
         loaded = pages_->nextPage()) {
        const std::vector<PartBlock>& page = pages_->page();
        auto notBefore = std::lower_bound(page.begin(), page.end(), key, before);
        if (notBefore != page.begin()) {
            if (notBefore != page.end()) {
                inPage_ = static_cast<std::size_t>(notBefore - page.begin() - 1);
                return;
            }
            previous = pages_->position();
            continue;
        }
        // The page's first block may already be past `from`: the last
        // block of the page before starts the range.
        if (!previous) return;
        break;
    }
    if (!previous) return;  // no blocks
    pages_->returnTo(*previous);
    inPage_ = pages_->page().size() - 1;
}

// As many whole blocks of the index page as the buffer holds, at least
// one, each checked before a record of it is read; none whose prefix is
// past to's, which holds no text of the range.
void PartReader::loadBlocks() {
    const std::vector<PartBlock>& page = pages_->page();
    std::size_t last = inPage_ + 1;
    std::int64_t bytes = page[inPage_].bytes;
    while (last < page.size() && bytes + page[last].bytes <= static_cast<std::int64_t>(bufferBytes_) &&
           !(to_ && page[last].prefix > toPrefix_))
        bytes += page[last++].bytes;
    if (static_cast<std::size_t>(bytes) > bufferCapacity_) {
        // A buffer of its share, which later loads reuse, but no larger than
        // the body: a merge of thousands of small parts would otherwise
        // take and touch a share for each.
        std::size_t body = static_cast<std::size_t>(bounds_.indexOffset - bounds_.bodyOffset);
        bufferCapacity_ = std::max(static_cast<std::size_t>(bytes), std::min(bufferBytes_, body));
        buffer_.reset();
        buffer_.reset(new char[bufferCapacity_]);
    }
    bufferOffset_ = page[inPage_].offset;
    readExactly(file_.fd, path_, bufferOffset_, buffer_.get(), static_cast<std::size_t>(bytes));
    for (std::size_t block = inPage_; block < last; ++block) {
        const char* start = buffer_.get() + (page[block].offset - bufferOffset_);
        if (partChecksum(start, static_cast<std::size_t>(page[block].bytes)) != page[block].checksum)
            fail(BadChecksum);
    }
    bufferedFrom_ = inPage_;
    bufferedTo_ = last;
}

// False after the last block.
bool PartReader::enterNextBlock() {
    if (inPage_ == pages_->page().size()) {
        if (!pages_->nextPage()) return false;
        inPage_ = bufferedFrom_ = bufferedTo_ = 0;
    }
    if (inPage_ < bufferedFrom_ || inPage_ >= bufferedTo_) loadBlocks();
    const std::vector<PartBlock>& page = pages_->page();
    const PartBlock& block = page[inPage_++];
    cursor_ = reinterpret_cast<const unsigned char*>(buffer_.get() + (block.offset - bufferOffset_));
    blockEnd_ = cursor_ + block.bytes;
    leftInBlock_ = block.entries;
    blockPrefix_ = block.prefix;
    firstInBlock_ = true;
    // Texts of this block come before the next block's first text: only a
    // block that may reach `to` compares each of its texts with it. A next
    // prefix less than to's is a text less than `to`; the next page's
    // first is not known here.
    checkTo_ = to_ && (inPage_ == page.size() || !(page[inPage_].prefix < indexedPrefix(*to_)));
    return true;
}

// Whether the text of `shared` bytes of the current one and then `rest`
// comes after it. The writer shares the longest common prefix, so the
// first differing byte decides at once; a file that shares less falls to
// the whole comparison.
[[gnu::always_inline]] inline bool PartReader::follows(std::uint64_t shared, const unsigned char* rest,
                                                       std::uint64_t restBytes) const {
    if (restBytes == 0) return false;
    if (shared == currentSize_) return true;
    unsigned char next = rest[0], old = static_cast<unsigned char>(current_[shared]);
    if (next != old) return next > old;
    return std::string_view(reinterpret_cast<const char*>(rest), restBytes) > currentText().substr(shared);
}

// One record into current_; returns its count. Every length is checked
// against the block, so no bytes of any file are read out of bounds. Inline
// in next(): a call per record costs more than most records' work.
[[gnu::always_inline]] inline std::int64_t PartReader::readRecord() {
    std::uint64_t shared, rest, count;
    if (!readBoundedRecordStart(cursor_, blockEnd_, shared, rest) || shared > currentSize_ ||
        rest > static_cast<std::uint64_t>(blockEnd_ - cursor_)) [[unlikely]]
        fail(BadStructure);
    const unsigned char* restBytes = cursor_;
    cursor_ += rest;
    if (!readVarintFast(cursor_, blockEnd_, count) || count > static_cast<std::uint64_t>(INT64_MAX))
        [[unlikely]]
        fail(BadStructure);
    if (firstInBlock_ ? shared != 0 || (havePrevious_ && !follows(shared, restBytes, rest))
                      : !follows(shared, restBytes, rest)) [[unlikely]]
        fail(BadStructure);
    // Eight bytes spare past the text let most rests go in one step.
    if (shared + rest + 8 > current_.size())
        current_.resize(std::max(2 * current_.size(), shared + rest + 8));
    char* to = current_.data() + shared;
    if (rest <= 8 && blockEnd_ - restBytes >= 8)
        std::memcpy(to, restBytes, 8);
    else
        std::memcpy(to, restBytes, rest);
    currentSize_ = shared + rest;
    key_ = followingKey(key_, shared, restBytes, rest, blockEnd_ - restBytes >= 16);
    if (firstInBlock_) [[unlikely]] {
        if (indexedPrefix(currentText()) != blockPrefix_) fail(BadStructure);
        firstInBlock_ = false;
        havePrevious_ = true;
    }
    return static_cast<std::int64_t>(count);
}

// Moves to the next entry in the range; false after the last.
[[gnu::always_inline]] inline bool PartReader::advance(std::int64_t& count) {
    if (done_) return false;
    started_ = true;
    for (;;) {
        while (leftInBlock_ == 0) {
            if (cursor_ != blockEnd_) fail(BadStructure);
            if (!enterNextBlock()) {
                done_ = true;
                if (!restricted_ && countSum_ != static_cast<std::uint64_t>(totalCount_)) fail(BadStructure);
                return false;
            }
        }
        count = readRecord();
        --leftInBlock_;
        countSum_ += static_cast<std::uint64_t>(count);
        if (beforeFrom_) [[unlikely]] {
            if (currentText() < std::string_view(from_)) continue;
            beforeFrom_ = false;
            rangeStart_ = bufferOffset_ + (reinterpret_cast<const char*>(cursor_) - buffer_.get());
        }
        if (checkTo_ && currentText() >= std::string_view(*to_)) [[unlikely]] {
            done_ = true;
            return false;
        }
        return true;
    }
}

bool PartReader::next() {
    std::int64_t count;
    if (!advance(count)) return false;
    text_ = currentText();
    count_ = count;
    return true;
}

bool PartReader::nextBatch(RecordBatch& batch) {
    batch.clear();
    std::int64_t count;
    while (!batch.full() && advance(count)) batch.add(keyOf(key_, currentSize_), current_.data(), count);
    return batch.size > 0;
}
