// Part files: the counts of the n-grams that start in bytes [from, to) of
// one input, in ascending memcmp order, each text once, as the merge
// program reads them. Any byte may occur in a text (NUL included). The
// format is written and read here and nowhere else.
//
// Layout (numbers little-endian; varints as in common/varint.h):
//   header   as formats/part_header.h writes it
//   body     blocks of about BlockBytes of records as formats/record_codec.h
//            codes them (a sorted run's records), the first record of each
//            block with nothing shared, so that a reader can start at any
//            block
//   index    one entry per block, in pages, as formats/part_index.h writes it
//   trailer  as formats/part_format.h writes it: where the index lies, the
//            numbers of blocks and entries, and the total count
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/count_source.h"
#include "common/file_io.h"
#include "common/output_file.h"
#include "formats/part_header.h"
#include "formats/part_index.h"

// Writes a part: add() the entries in ascending order, each text once, then
// commit() writes the index and trailer and puts the file in the path's
// place atomically (as the count file is replaced). Destroyed without
// commit(), it leaves the path as it was. Throws IoError naming the path
// (or the folder of the index's temporary file).
class PartWriter {
public:
    // A block closes at the first record end at or past this many bytes.
    static constexpr std::size_t BlockBytes = 64 << 10;
    // The index pages kept in memory before they go to a temporary file
    // (in TMPDIR when it is set, else beside the part).
    static constexpr std::size_t IndexMemoryBytes = 1 << 20;
    // What a writer holds besides its longest text: the open block, the
    // index in memory (a string that may be twice what it holds), and the
    // buffers of the part and of the index's temporary file.
    static constexpr std::int64_t MemoryBytes = BlockBytes + 2 * IndexMemoryBytes + (2 << 20);

    PartWriter(const std::string& path, const PartHeader& header,
               std::size_t indexMemoryBytes = IndexMemoryBytes);
    ~PartWriter();
    PartWriter(const PartWriter&) = delete;
    PartWriter& operator=(const PartWriter&) = delete;
    void add(std::string_view text, std::int64_t count);
    void commit();
    std::int64_t entries() const { return entries_; }
    std::int64_t totalCount() const { return totalCount_; }
    // The part's bytes written so far (the block being filled not yet).
    std::int64_t bytesWritten() const { return written_; }

private:
    void closeBlock();

    std::string path_;
    OutputFile file_;
    PartIndexWriter index_;
    std::int64_t written_ = 0;  // bytes of the file before `block_`
    std::string block_, blockFirstText_;
    std::int64_t blockEntries_ = 0;
    std::string previous_;
    std::int64_t entries_ = 0, totalCount_ = 0;
};

// Reads a part. The constructor reads and checks the header (magic,
// version) and the trailer (checksum, sizes), so that a truncated file or
// an unknown version is an IoError naming the path before any entry is
// read. The index is read a page at a time as the blocks are, and each page
// and block is checked as it is read: a mismatch is an IoError naming the
// path. A reader holds its buffer, a page of the index and its current
// text, whatever the part's size.
class PartReader final : public CountSource {
public:
    PartReader(const std::string& path, std::size_t bufferBytes);
    PartReader(const PartReader&) = delete;
    PartReader& operator=(const PartReader&) = delete;
    const PartHeader& header() const { return header_; }
    std::int64_t entries() const { return bounds_.entries; }  // distinct texts in the part
    std::int64_t totalCount() const { return totalCount_; }
    std::int64_t blocks() const { return bounds_.blocks; }
    // A cursor over the index from its start, apart from the entries.
    PartIndexCursor index() const { return PartIndexCursor(file_.fd, path_, bounds_); }
    // Restricts the entries next() yields to texts t with from <= t < to
    // (no `to`: to the end): reads the index up to the last block whose
    // indexed prefix is less than from's (a block before it holds only
    // texts before `from`), and starts there: from the last of the `pages`
    // noted before `from` when they are given, else from the index's start.
    // Call before the first next().
    void restrictTo(std::string_view from, std::optional<std::string_view> to,
                    const PartPages* pages = nullptr);
    bool next() override;
    bool nextBatch(RecordBatch& batch) override;
    // The body bytes read of the range so far: from the end of its first
    // entry (from the body's start when the range starts at the first text)
    // to the end of the last record read, the first past the range
    // included. So the readers of adjacent ranges of one part, each read
    // through, read bytes that add up to the body between the ranges'
    // ends, the whole body for ranges that cover every text.
    std::int64_t rangeBytesRead() const {
        if (rangeStart_ < 0 || cursor_ == nullptr) return 0;
        return bufferOffset_ + (reinterpret_cast<const char*>(cursor_) - buffer_.get()) - rangeStart_;
    }

private:
    bool advance(std::int64_t& count);
    [[noreturn]] void fail(const std::string& reason) const;
    void readHeader(std::int64_t bodyEnd);
    bool enterNextBlock();
    void loadBlocks();
    std::int64_t readRecord();
    bool follows(std::uint64_t shared, const unsigned char* rest, std::uint64_t restBytes) const;
    std::string_view currentText() const { return {current_.data(), currentSize_}; }

    // Closed by its own destructor, also when the constructor throws.
    struct Descriptor {
        int fd = -1;
        ~Descriptor();
    };
    std::string path_;
    Descriptor file_;
    std::size_t bufferBytes_;
    PartHeader header_;
    PartIndexBounds bounds_;
    std::int64_t totalCount_ = 0;
    std::optional<PartIndexCursor> pages_;
    std::size_t inPage_ = 0;  // the next block's place in the index page

    // Blocks [bufferedFrom_, bufferedTo_) of the page are in `buffer_`,
    // which starts at file offset bufferOffset_.
    std::unique_ptr<char[]> buffer_;
    std::size_t bufferCapacity_ = 0;
    std::int64_t bufferOffset_ = 0;
    std::size_t bufferedFrom_ = 0, bufferedTo_ = 0;
    const unsigned char* cursor_ = nullptr;
    const unsigned char* blockEnd_ = nullptr;
    std::int64_t leftInBlock_ = 0;
    std::string_view blockPrefix_;  // of the block being read, in the index page
    bool firstInBlock_ = false, havePrevious_ = false;
    std::string current_;  // the current text in its first currentSize_ bytes
    std::size_t currentSize_ = 0;
    KeyBytes key_ = 0;  // of the current text
    bool started_ = false, done_ = false, restricted_ = false, beforeFrom_ = false, checkTo_ = false;
    std::string from_;
    std::optional<std::string> to_;
    std::string toPrefix_;  // to_'s indexed prefix: a block whose prefix is past it holds no text before to_
    std::uint64_t countSum_ = 0;
    std::int64_t rangeStart_ = -1;  // the file offset rangeBytesRead counts from; -1: not met yet
};
