// Part files: the counts of the n-grams that start in bytes [from, to) of
// one input, in ascending memcmp order, each text once, as the merge
// program reads them. Any byte may occur in a text (NUL included). The
// format is written and read here and nowhere else.
//
// Layout (numbers little-endian; "varint" as in common/run_format.h):
//   header   as common/part_header.h writes it
//   body     blocks of about BlockBytes: records as a sorted run's (shared
//            prefix varint, rest length varint, rest bytes, count varint),
//            the first record of each block with nothing shared, so that a
//            reader can start at any block
//   index    per block: varint first text length, its bytes, varints
//            offset, bytes, entries, and u64 checksum of the block's bytes
//   trailer  u64 index offset, u64 index bytes, i64 entries, i64 total
//            count, u64 index checksum, u64 checksum of these five, and the
//            magic and version again (TrailerBytes in all, at the very end,
//            so that a truncated file is known at open)
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/count_merge.h"
#include "common/file_io.h"
#include "common/part_header.h"
#include "common/run_format.h"

inline constexpr std::size_t TrailerBytes = 56;

// One index entry every so many body bytes (a block): the block's first
// text (stored whole, so a reader can start there), where the block starts
// in the file, and how many body bytes it covers. Split points are chosen
// from these texts, weighted by `bytes`.
struct PartIndexEntry {
    std::string firstText;
    std::int64_t offset = 0;
    std::int64_t bytes = 0;
    std::int64_t entries = 0;
    std::uint64_t checksum = 0;
};

// Writes a part: add() the entries in ascending order, each text once, then
// commit() writes the index and trailer and puts the file in the path's
// place atomically (as the count file is replaced). Destroyed without
// commit(), it leaves the path as it was. Throws IoError naming the path.
class PartWriter {
public:
    // A block closes at the first record end at or past this many bytes.
    static constexpr std::size_t BlockBytes = 64 << 10;

    PartWriter(const std::string& path, const PartHeader& header);
    ~PartWriter();
    PartWriter(const PartWriter&) = delete;
    PartWriter& operator=(const PartWriter&) = delete;
    void add(std::string_view text, std::int64_t count);
    void commit();
    std::int64_t entries() const { return entries_; }
    std::int64_t totalCount() const { return totalCount_; }

private:
    void closeBlock();

    std::string path_;
    OutputFile file_;
    std::int64_t written_ = 0;  // bytes of the file before `block_`
    std::string block_;
    std::string previous_;
    std::vector<PartIndexEntry> index_;
    std::int64_t entries_ = 0, totalCount_ = 0;
};

// Reads a part. The constructor reads and checks the header (magic,
// version), the index and the trailer (checksums, sizes), so a truncated
// or damaged file or an unknown version is an IoError naming the path
// before any entry is read; next() checks each block's checksum as it
// reads it and throws IoError naming the path on a mismatch.
class PartReader final : public CountSource {
public:
    PartReader(const std::string& path, std::size_t bufferBytes);
    PartReader(const PartReader&) = delete;
    PartReader& operator=(const PartReader&) = delete;
    const PartHeader& header() const { return header_; }
    const std::vector<PartIndexEntry>& index() const { return index_; }
    std::int64_t entries() const { return entries_; }  // distinct texts in the part
    std::int64_t totalCount() const { return totalCount_; }
    // Restricts the entries next() yields to texts t with from <= t < to
    // (no `to`: to the end), seeking to the last block whose first text is
    // <= from. Call before the first next().
    void restrictTo(std::string_view from, std::optional<std::string_view> to);
    bool next() override;

private:
    [[noreturn]] void fail(const std::string& reason) const;
    void readExactly(std::int64_t offset, char* destination, std::size_t length) const;
    void readHeader(std::int64_t fileSize);
    void readIndex(std::int64_t indexOffset, std::size_t indexBytes, std::uint64_t checksum);
    void enterNextBlock();
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
    std::int64_t bodyOffset_ = 0;
    std::vector<PartIndexEntry> index_;
    std::int64_t entries_ = 0, totalCount_ = 0;

    // Blocks [bufferedFrom_, bufferedTo_) are in `buffer_`, which starts
    // at file offset bufferOffset_; nextBlock_ is the one read after the
    // current one.
    std::unique_ptr<char[]> buffer_;
    std::size_t bufferCapacity_ = 0;
    std::int64_t bufferOffset_ = 0;
    std::size_t bufferedFrom_ = 0, bufferedTo_ = 0, nextBlock_ = 0;
    const unsigned char* cursor_ = nullptr;
    const unsigned char* blockEnd_ = nullptr;
    std::int64_t leftInBlock_ = 0;
    bool firstInBlock_ = false, havePrevious_ = false;
    std::string current_;  // the current text in its first currentSize_ bytes
    std::size_t currentSize_ = 0;
    bool started_ = false, done_ = false, restricted_ = false, beforeFrom_ = false, checkTo_ = false;
    std::string from_;
    std::optional<std::string> to_;
    std::uint64_t countSum_ = 0;
};
