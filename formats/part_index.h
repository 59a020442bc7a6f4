// The index of a part file's blocks: one entry per block of the body, in
// pages of up to PageBlocks entries that are read one at a time, so that
// neither the writer nor a reader holds more than a page of it, whatever
// the part's size.
//
// Layout (numbers as in formats/part_format.h): the pages one after the
// other, each a u32 of its entries' bytes, the entries, and a u64 checksum
// of the two before; an entry is a varint prefix length, the prefix (the
// block's first text cut to IndexedPrefixBytes), varints block bytes and
// entries, and a u64 checksum of the block's bytes. The first block starts
// at the body's start, each other where the one before it ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_io.h"
#include "common/output_file.h"
#include "common/temporary_file.h"

// What the index keeps of a block's first text: enough to start a reader
// at a block and to choose split points from (any bytes are a valid split
// point), and a text longer than a block is not stored twice. Prefixes are
// in order, equal ones only where the texts were cut.
inline constexpr std::size_t IndexedPrefixBytes = 64;
inline std::string_view indexedPrefix(std::string_view text) { return text.substr(0, IndexedPrefixBytes); }

inline constexpr std::size_t PageBlocks = 64;

// One block as the index tells it; the prefix lies in the page read.
struct PartBlock {
    std::string_view prefix;
    std::int64_t offset = 0, bytes = 0, entries = 0;
    std::uint64_t checksum = 0;
};

// Collects the index while the body is written: its pages in memory up to
// `memoryBytes` (and one page more), beyond that in an unnamed temporary
// file in the folder, and copies it all to the part at the end.
class PartIndexWriter {
public:
    PartIndexWriter(std::string temporaryFolder, std::size_t memoryBytes);
    void add(std::string_view firstText, std::int64_t bytes, std::int64_t entries, std::uint64_t checksum);
    // Writes the whole index; returns its bytes.
    std::int64_t writeTo(OutputFile& out);
    std::int64_t blocks() const { return blocks_; }

private:
    void closePage();

    std::string temporaryFolder_;
    std::size_t memoryBytes_;
    std::string page_, pages_;
    std::size_t pageBlocks_ = 0;
    std::int64_t blocks_ = 0;
    std::unique_ptr<TemporaryFile> spilled_;
};

// Where a part's index lies, and what its trailer says of it.
struct PartIndexBounds {
    std::int64_t bodyOffset = 0, indexOffset = 0, indexEnd = 0, blocks = 0, entries = 0;
};

// Reads an index page by page from the open file. Each page is checked as
// it is read (its checksum, its blocks following on from those before,
// their prefixes in order), and at the index's end that the blocks fill the
// body and agree with the trailer. Failures are IoErrors naming the path.
class PartIndexCursor {
public:
    PartIndexCursor(int fd, std::string path, const PartIndexBounds& bounds);
    // Loads the next page; false after the last.
    bool nextPage();
    const std::vector<PartBlock>& page() const { return page_; }

    // What was read before a page, to come back to it.
    struct Position {
        std::int64_t at = 0, bodyOffset = 0, blocks = 0, entries = 0;
        std::string lastPrefix;
    };
    // Of the page loaded now.
    const Position& position() const { return pageStart_; }
    // Loads the page at the position again.
    void returnTo(const Position& position);

private:
    [[noreturn]] void fail(const std::string& reason) const;
    void readPage(const unsigned char* in, const unsigned char* end);

    int fd_;
    std::string path_;
    PartIndexBounds bounds_;
    Position pageStart_, next_;
    std::string bytes_;
    std::vector<PartBlock> page_;
};

// Some of an index's pages, each with the prefix of its first block, noted
// as the index is read through once: a reader of a key range starts at the
// last page noted before its range (PartReader::restrictTo) instead of
// reading the index from its start.
class PartPages {
public:
    // Pages in the order of the index.
    void add(std::string_view firstPrefix, const PartIndexCursor::Position& position);
    // The last page noted whose first block's prefix is less than the
    // text's indexed prefix; null when none is.
    const PartIndexCursor::Position* before(std::string_view text) const;
    // What the noted pages hold, for a memory budget.
    std::int64_t bytes() const { return bytes_; }

private:
    std::vector<std::string> prefixes_;
    std::vector<PartIndexCursor::Position> positions_;
    std::int64_t bytes_ = 0;
};
