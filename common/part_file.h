// The part file format (declarations; the format itself comes from the
// partfile branch, which replaces this file).
// Part files: the counts of the n-grams that start in bytes [from, to) of
// one input, in ascending memcmp order, each text once, as the merge
// program reads them. Any byte may occur in a text (NUL included).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/sorted_runs.h"  // CountSource

struct PartHeader {
    char mode = 'c';  // 'c' characters, 'w' words
    std::int32_t n = 0;
    std::int64_t inputSize = 0;
    // Every part of one input computes the same value (inputFingerprint);
    // parts of another input, or of the file after it changed, differ.
    std::uint64_t inputFingerprint = 0;
    std::int64_t from = 0, to = 0;  // the range of starts counted
    // The input's path as the part program was given it: for messages only
    // (the same file may be reached by different paths on different nodes).
    std::string inputName;
};

// A cheap hash of the input's size and of a few fixed blocks of its bytes
// (the same blocks whatever part is counted). Throws IoError naming the path.
std::uint64_t inputFingerprint(const std::string& inputPath);

// One index entry every so many body bytes (a block): the block's first
// text (stored whole, so a reader can start there), where the block starts
// in the file, and how many body bytes it covers. Split points are chosen
// from these texts, weighted by `bytes`.
struct PartIndexEntry {
    std::string firstText;
    std::int64_t offset = 0;
    std::int64_t bytes = 0;
    std::int64_t entries = 0;
};

// Writes a part: add() the entries in ascending order, each text once, then
// commit() writes the index and trailer and puts the file in the path's
// place atomically (as the count file is replaced). Destroyed without
// commit(), it leaves the path as it was. Throws IoError naming the path.
class PartWriter {
public:
    PartWriter(const std::string& path, const PartHeader& header);
    ~PartWriter();
    void add(std::string_view text, std::int64_t count);
    void commit();
};

// Reads a part. The constructor reads and checks the header (magic,
// version), the index and the trailer (checksums, sizes), so a truncated
// or damaged file or an unknown version is an IoError naming the path
// before any entry is read; next() checks each block's checksum as it
// reads it and throws IoError naming the path on a mismatch.
class PartReader final : public CountSource {
public:
    PartReader(const std::string& path, std::size_t bufferBytes);
    const PartHeader& header() const;
    const std::vector<PartIndexEntry>& index() const;
    std::int64_t entries() const;  // distinct texts in the part
    // Restricts the entries next() yields to texts t with from <= t < to
    // (no `to`: to the end), seeking to the last block whose first text is
    // <= from. Call before the first next().
    void restrictTo(std::string_view from, std::optional<std::string_view> to);
    bool next() override;
};
