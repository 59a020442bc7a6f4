// Entries handed from the threads of a merge to one reader, in order: each
// range's thread codes its entries as records (formats/record_codec.h) in
// blocks, and the reader, given the blocks' bytes in order however they
// are cut, decodes them and hands each entry on. So a part file's writer,
// whose blocks depend on every byte before them, takes the entries of a
// merge that ran on every thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/text_bytes.h"
#include "formats/count_lines.h"

// Codes one range's entries, given in order, into blocks for the sink. The
// first record of the range shares nothing with the text before it.
class RecordBlocks {
public:
    explicit RecordBlocks(BlockSink& sink, std::size_t blockBytes = CountLines::BlockBytes);
    void add(std::string_view text, std::int64_t count);
    // Hands over the last block.
    void finish();

private:
    void handOver();

    BlockSink& sink_;
    CountBlock block_;
    TextBuffer previous_;
};

// Decodes the records of the blocks, in order, and hands each entry to
// `visit`. A record cut between two writes waits for the rest.
class RecordReplay {
public:
    using Visit = std::function<void(std::string_view text, std::int64_t count)>;
    explicit RecordReplay(Visit visit) : visit_(std::move(visit)) {}
    void write(std::string_view bytes);

private:
    // Decodes the whole records at the start of `bytes`; returns how many
    // bytes they took.
    std::size_t decode(std::string_view bytes);

    Visit visit_;
    TextBuffer previous_;
    std::string carry_;  // the start of a record cut by the end of a write
};
