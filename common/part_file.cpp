#include "common/part_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "common/text_bytes.h"

namespace {

using namespace part_format;

constexpr std::size_t TrailerFieldsBytes = 40;
// The smallest record: a shared length, a rest length and a count.
constexpr std::int64_t SmallestRecord = 3;

const std::string NotAPartFile = "not a part file";
const std::string Truncated = "truncated part file";
const std::string BadChecksum = "damaged part file (checksum)";
const std::string BadStructure = "damaged part file (inconsistent contents)";

void putVarint(std::string& out, std::uint64_t value) {
    char bytes[10];
    out.append(bytes, static_cast<std::size_t>(appendVarint(bytes, value) - bytes));
}

// Reads a varint that must end before `end` and fit in 64 bits.
bool readBoundedVarint(const unsigned char*& in, const unsigned char* end, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && in < end; shift += 7) {
        unsigned char byte = *in++;
        if (shift == 63 && byte > 1) return false;
        value |= std::uint64_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) return true;
    }
    return false;
}

// Most numbers of a record take one byte.
inline bool readVarintFast(const unsigned char*& in, const unsigned char* end, std::uint64_t& value) {
    if (in < end && *in < 0x80) [[likely]] {
        value = *in++;
        return true;
    }
    return readBoundedVarint(in, end, value);
}

}  // namespace

PartWriter::PartWriter(const std::string& path, const PartHeader& header) : path_(path), file_(path) {
    std::string bytes = encodeHeader(header);
    file_.write(bytes);
    written_ = static_cast<std::int64_t>(bytes.size());
    block_.reserve(BlockBytes + 64);
}

PartWriter::~PartWriter() = default;

void PartWriter::add(std::string_view text, std::int64_t count) {
    if (entries_ > 0 && !(std::string_view(previous_) < text))
        throw std::logic_error("PartWriter: texts not in ascending order");
    if (count < 0) throw std::logic_error("PartWriter: a negative count");
    std::size_t shared = 0;
    if (block_.empty())
        index_.push_back({std::string(text), written_, 0, 0, 0});
    else
        shared = sharedPrefix(previous_, text);
    putVarint(block_, shared);
    putVarint(block_, text.size() - shared);
    block_.append(text.substr(shared));
    putVarint(block_, static_cast<std::uint64_t>(count));
    previous_.resize(shared);
    previous_.append(text.substr(shared));
    ++index_.back().entries;
    ++entries_;
    totalCount_ += count;
    if (block_.size() >= BlockBytes) closeBlock();
}

void PartWriter::closeBlock() {
    PartIndexEntry& entry = index_.back();
    entry.bytes = static_cast<std::int64_t>(block_.size());
    entry.checksum = partChecksum(block_.data(), block_.size());
    file_.write(block_);
    written_ += entry.bytes;
    block_.clear();
}

void PartWriter::commit() {
    if (!block_.empty()) closeBlock();
    std::string index;
    for (const PartIndexEntry& entry : index_) {
        putVarint(index, entry.firstText.size());
        index += entry.firstText;
        putVarint(index, static_cast<std::uint64_t>(entry.offset));
        putVarint(index, static_cast<std::uint64_t>(entry.bytes));
        putVarint(index, static_cast<std::uint64_t>(entry.entries));
        putU64(index, entry.checksum);
    }
    std::string trailer;
    putU64(trailer, static_cast<std::uint64_t>(written_));
    putU64(trailer, index.size());
    putU64(trailer, static_cast<std::uint64_t>(entries_));
    putU64(trailer, static_cast<std::uint64_t>(totalCount_));
    putU64(trailer, partChecksum(index.data(), index.size()));
    putU64(trailer, partChecksum(trailer.data(), trailer.size()));
    trailer.append(Magic, sizeof Magic);
    file_.write(index);
    file_.write(trailer);
    file_.close();
}

PartReader::PartReader(const std::string& path, std::size_t bufferBytes)
    : path_(path), bufferBytes_(bufferBytes) {
    file_.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file_.fd < 0) fail(systemReason());
    struct stat status;
    if (fstat(file_.fd, &status) != 0) fail(systemReason());
    if (S_ISDIR(status.st_mode)) fail("is a directory");
    if (!S_ISREG(status.st_mode)) fail("not a regular file");
    std::int64_t size = status.st_size;

    char magic[sizeof Magic];
    if (size < static_cast<std::int64_t>(sizeof Magic)) fail(NotAPartFile);
    readExactly(0, magic, sizeof magic);
    if (std::memcmp(magic, Magic, MagicBytes) != 0) fail(NotAPartFile);
    unsigned version = static_cast<unsigned char>(magic[MagicBytes]);
    if (version < Version)
        fail("part file of the older version " + std::to_string(version) +
             ", which does not tell versions of an input apart: count the part again");
    if (version != Version) fail("part file of an unknown version " + std::to_string(version));
    if (size < static_cast<std::int64_t>(FixedHeaderBytes + HeaderChecksumBytes + TrailerBytes))
        fail(Truncated);

    char trailer[TrailerBytes];
    readExactly(size - static_cast<std::int64_t>(TrailerBytes), trailer, TrailerBytes);
    if (std::memcmp(trailer + TrailerFieldsBytes + 8, Magic, sizeof Magic) != 0) fail(Truncated);
    if (partChecksum(trailer, TrailerFieldsBytes) != getU64(trailer + TrailerFieldsBytes)) fail(BadChecksum);
    std::uint64_t indexOffset = getU64(trailer), indexBytes = getU64(trailer + 8);
    entries_ = static_cast<std::int64_t>(getU64(trailer + 16));
    totalCount_ = static_cast<std::int64_t>(getU64(trailer + 24));
    std::uint64_t indexRoom = static_cast<std::uint64_t>(size) - TrailerBytes;
    if (indexOffset > indexRoom || indexBytes != indexRoom - indexOffset || entries_ < 0 || totalCount_ < 0)
        fail(BadStructure);

    readHeader(static_cast<std::int64_t>(indexOffset));
    readIndex(static_cast<std::int64_t>(indexOffset), indexBytes, getU64(trailer + 32));
}

PartReader::Descriptor::~Descriptor() {
    if (fd >= 0) ::close(fd);
}

void PartReader::fail(const std::string& reason) const { throw IoError(path_, reason); }

void PartReader::readExactly(std::int64_t offset, char* destination, std::size_t length) const {
    while (length > 0) {
        ssize_t got = pread(file_.fd, destination, length, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fail(systemReason());
        if (got == 0) fail(Truncated);
        destination += got;
        offset += got;
        length -= static_cast<std::size_t>(got);
    }
}

void PartReader::readHeader(std::int64_t bodyEnd) {
    char fixed[FixedHeaderBytes];
    readExactly(0, fixed, sizeof fixed);
    std::size_t bytesInHeader = headerSize(fixed);
    if (bytesInHeader == 0 || static_cast<std::int64_t>(bytesInHeader) > bodyEnd) fail(BadStructure);
    std::string bytes(bytesInHeader, '\0');
    readExactly(0, bytes.data(), bytes.size());
    if (!decodeHeader(bytes, header_)) fail(BadChecksum);
    bool valid = (header_.mode == 'c' || header_.mode == 'w') && header_.n >= 1 && header_.from >= 0 &&
                 header_.from <= header_.to && header_.to <= header_.input.size;
    if (!valid) fail(BadStructure);
    bodyOffset_ = static_cast<std::int64_t>(bytesInHeader);
}

void PartReader::readIndex(std::int64_t indexOffset, std::size_t indexBytes, std::uint64_t checksum) {
    std::string bytes(indexBytes, '\0');
    readExactly(indexOffset, bytes.data(), indexBytes);
    if (partChecksum(bytes.data(), bytes.size()) != checksum) fail(BadChecksum);

    auto in = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* end = in + bytes.size();
    std::int64_t expectedOffset = bodyOffset_, entries = 0;
    auto number = [&](std::int64_t& value) {
        std::uint64_t read;
        if (!readBoundedVarint(in, end, read) || read > static_cast<std::uint64_t>(indexOffset))
            fail(BadStructure);
        value = static_cast<std::int64_t>(read);
    };
    while (in < end) {
        PartIndexEntry entry;
        std::int64_t textBytes;
        number(textBytes);
        if (textBytes > end - in) fail(BadStructure);
        entry.firstText.assign(reinterpret_cast<const char*>(in), static_cast<std::size_t>(textBytes));
        in += textBytes;
        number(entry.offset);
        number(entry.bytes);
        number(entry.entries);
        if (end - in < 8) fail(BadStructure);
        entry.checksum = getU64(reinterpret_cast<const char*>(in));
        in += 8;
        bool fits = entry.offset == expectedOffset && entry.entries >= 1 &&
                    entry.entries * SmallestRecord <= entry.bytes &&
                    entry.bytes <= indexOffset - entry.offset &&
                    (index_.empty() || index_.back().firstText < entry.firstText);
        if (!fits) fail(BadStructure);
        expectedOffset += entry.bytes;
        entries += entry.entries;
        index_.push_back(std::move(entry));
    }
    if (expectedOffset != indexOffset || entries != entries_) fail(BadStructure);
}

void PartReader::restrictTo(std::string_view from, std::optional<std::string_view> to) {
    if (started_) throw std::logic_error("PartReader::restrictTo after next()");
    restricted_ = true;
    beforeFrom_ = !from.empty();
    from_ = std::string(from);
    if (to) to_ = std::string(*to);
    auto after = std::upper_bound(index_.begin(), index_.end(), from,
                                  [](std::string_view text, const PartIndexEntry& entry) {
                                      return text < std::string_view(entry.firstText);
                                  });
    nextBlock_ = after == index_.begin() ? 0 : static_cast<std::size_t>(after - index_.begin() - 1);
}

// As many whole blocks as the buffer holds, at least one, each checked
// before a record of it is read.
void PartReader::loadBlocks() {
    std::size_t last = nextBlock_ + 1;
    std::int64_t bytes = index_[nextBlock_].bytes;
    while (last < index_.size() && bytes + index_[last].bytes <= static_cast<std::int64_t>(bufferBytes_))
        bytes += index_[last++].bytes;
    if (static_cast<std::size_t>(bytes) > bufferCapacity_) {
        bufferCapacity_ = std::max(static_cast<std::size_t>(bytes), bufferBytes_);
        buffer_.reset();
        buffer_.reset(new char[bufferCapacity_]);
    }
    bufferOffset_ = index_[nextBlock_].offset;
    readExactly(bufferOffset_, buffer_.get(), static_cast<std::size_t>(bytes));
    for (std::size_t block = nextBlock_; block < last; ++block) {
        const PartIndexEntry& entry = index_[block];
        const char* start = buffer_.get() + (entry.offset - bufferOffset_);
        if (partChecksum(start, static_cast<std::size_t>(entry.bytes)) != entry.checksum) fail(BadChecksum);
    }
    bufferedFrom_ = nextBlock_;
    bufferedTo_ = last;
}

void PartReader::enterNextBlock() {
    if (nextBlock_ < bufferedFrom_ || nextBlock_ >= bufferedTo_) loadBlocks();
    const PartIndexEntry& entry = index_[nextBlock_++];
    cursor_ = reinterpret_cast<const unsigned char*>(buffer_.get() + (entry.offset - bufferOffset_));
    blockEnd_ = cursor_ + entry.bytes;
    leftInBlock_ = entry.entries;
    firstInBlock_ = true;
    // Texts of this block come before the next block's first text: only a
    // block that may reach `to` compares each of its texts with it.
    checkTo_ = to_ && (nextBlock_ == index_.size() || std::string_view(*to_) < index_[nextBlock_].firstText);
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
    if (!readVarintFast(cursor_, blockEnd_, shared) || !readVarintFast(cursor_, blockEnd_, rest) ||
        shared > currentSize_ || rest > static_cast<std::uint64_t>(blockEnd_ - cursor_)) [[unlikely]]
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
    if (firstInBlock_) [[unlikely]] {
        if (currentText() != index_[nextBlock_ - 1].firstText) fail(BadStructure);
        firstInBlock_ = false;
        havePrevious_ = true;
    }
    return static_cast<std::int64_t>(count);
}

bool PartReader::next() {
    if (done_) return false;
    started_ = true;
    for (;;) {
        while (leftInBlock_ == 0) {
            if (cursor_ != blockEnd_) fail(BadStructure);
            if (nextBlock_ == index_.size()) {
                done_ = true;
                if (!restricted_ && countSum_ != static_cast<std::uint64_t>(totalCount_)) fail(BadStructure);
                return false;
            }
            enterNextBlock();
        }
        std::int64_t count = readRecord();
        --leftInBlock_;
        countSum_ += static_cast<std::uint64_t>(count);
        if (beforeFrom_) {
            if (currentText() < std::string_view(from_)) continue;
            beforeFrom_ = false;
        }
        if (checkTo_ && currentText() >= std::string_view(*to_)) {
            done_ = true;
            return false;
        }
        text_ = currentText();
        count_ = count;
        return true;
    }
}
