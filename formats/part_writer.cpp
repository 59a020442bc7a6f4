#include <stdexcept>

#include "common/text_bytes.h"
#include "formats/part_file.h"
#include "formats/part_format.h"
#include "formats/record_codec.h"

using namespace part_format;

PartWriter::PartWriter(const std::string& path, const PartHeader& header, std::size_t indexMemoryBytes)
    : path_(path), file_(path), index_(temporaryFolderOrTmpdir(path), indexMemoryBytes) {
    std::string bytes = encodeHeader(header);
    file_.write(bytes);
    written_ = static_cast<std::int64_t>(bytes.size());
    block_.reserve(BlockBytes + recordRoom(64));
}

PartWriter::~PartWriter() = default;

void PartWriter::add(std::string_view text, std::int64_t count) {
    if (entries_ > 0 && !(std::string_view(previous_) < text))
        throw std::logic_error("PartWriter: texts not in ascending order");
    if (count < 0) throw std::logic_error("PartWriter: a negative count");
    std::size_t shared = 0;
    if (block_.empty())
        blockFirstText_.assign(indexedPrefix(text));
    else
        shared = sharedPrefix(previous_, text);
    std::string_view rest = text.substr(shared);
    std::size_t start = block_.size();
    block_.resize(start + recordRoom(rest.size()));
    char* end = encodeRecord(block_.data() + start, shared, rest, static_cast<std::uint64_t>(count));
    block_.resize(static_cast<std::size_t>(end - block_.data()));
    previous_.resize(shared);
    previous_.append(rest);
    ++blockEntries_;
    ++entries_;
    totalCount_ += count;
    if (block_.size() >= BlockBytes) closeBlock();
}

void PartWriter::closeBlock() {
    index_.add(blockFirstText_, static_cast<std::int64_t>(block_.size()), blockEntries_,
               partChecksum(block_.data(), block_.size()));
    file_.write(block_);
    written_ += static_cast<std::int64_t>(block_.size());
    block_.clear();
    blockEntries_ = 0;
}

void PartWriter::commit() {
    if (!block_.empty()) closeBlock();
    std::int64_t indexBytes = index_.writeTo(file_);
    file_.write(encodeTrailer({written_, indexBytes, index_.blocks(), entries_, totalCount_}));
    file_.close();
}
