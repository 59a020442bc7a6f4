// A count file read in pieces at once, one a thread.
//
// The file is cut at even offsets, and piece i holds the entries that start
// in [cut i, cut i + 1): it begins at the first place at or after its cut
// where an entry starts (EntryLocator's rule), and reads on past the next
// cut to the end of the entry that this cut falls in, which is where the
// next piece begins. So every entry is read whole by exactly one piece,
// wherever the cuts fall (also inside an entry of many lines), and the
// pieces in order read what one reading from the start reads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "common/line_feeds.h"
#include "formats/count_file.h"
#include "formats/count_file_reader.h"
#include "formats/entry_locator.h"
#include "formats/line_masks.h"

// Where piece i of `pieces` is cut: the file's size shared out evenly.
inline std::int64_t pieceCut(std::int64_t size, std::size_t i, std::size_t pieces) {
    auto n = static_cast<std::int64_t>(pieces), k = static_cast<std::int64_t>(i);
    return size / n * k + size % n * k / n;
}

class EntryPiece {
public:
    static constexpr std::int64_t DefaultBlockBytes = 1 << 20;
    // The steps of 64 bytes whose masks are worked out in one go.
    static constexpr std::size_t StepsAtOnce = 64;

    // The entries that start in [cut, nextCut), read in blocks of
    // `blockBytes`.
    EntryPiece(const std::string& path, std::int64_t cut, std::int64_t nextCut,
               std::int64_t blockBytes = DefaultBlockBytes,
               std::int64_t windowBytes = EntryLocator::DefaultWindowBytes)
        : path_(path), cut_(cut), nextCut_(nextCut), blockBytes_(blockBytes), locator_(path, windowBytes) {}

    // One entry; its text is put together only when asked for.
    class Entry {
    public:
        std::int64_t count() const { return count_; }
        // Where it starts in the file: the file's order of entries.
        std::int64_t start() const { return start_; }
        // Valid until the next entry.
        std::string_view text() {
            if (start_ >= blockStart_)
                return entryText(block_.substr(static_cast<std::size_t>(start_ - blockStart_),
                                               static_cast<std::size_t>(end_ - start_)),
                                 piece_.scratch_);
            // Its first lines were in an earlier block.
            return piece_.locator_.entryAt(start_).text;
        }

    private:
        friend class EntryPiece;
        Entry(EntryPiece& piece, std::string_view block, std::int64_t blockStart)
            : piece_(piece), block_(block), blockStart_(blockStart) {}
        EntryPiece& piece_;
        std::string_view block_;
        std::int64_t blockStart_;
        std::int64_t count_ = 0, start_ = 0, end_ = 0;
    };

    // Calls take(Entry&) for every entry of the piece, in file order,
    // but may pass over an entry whose count has fewer digits than
    // leastDigits() asks for, seen at a glance in a line as the writer
    // writes it (formats/line_masks.h; 0 asks for every entry). Throws IoError when the file
    // cannot be read or a count does not fit in 64 bits.
    template <typename Take, typename LeastDigits>
    void forEach(Take take, LeastDigits leastDigits);
    template <typename Take>
    void forEach(Take take) {
        forEach(take, [] { return 0; });
    }

private:
    std::string path_;
    std::int64_t cut_, nextCut_, blockBytes_;
    EntryLocator locator_;
    std::string scratch_;
};

template <typename Take, typename LeastDigits>
void EntryPiece::forEach(Take take, LeastDigits leastDigits) {
    std::optional<std::int64_t> first = locator_.entryStartIn(cut_, nextCut_);
    if (!first) return;
    LineBlockReader blocks(path_, blockBytes_, *first);
    std::int64_t entryStart = *first;
    for (std::string_view block; !(block = blocks.nextBlock()).empty();) {
        Entry entry(*this, block, blocks.blockStart());
        const char* data = block.data();
        const char* line = data;
        // Looks at the line that ends at lineEnd (an LF, or the end of the
        // file); false when it ends the piece.
        auto atLineEnd = [&](const char* lineEnd) {
            std::int64_t count;
            LineKind kind = classifyCountLine({line, static_cast<std::size_t>(lineEnd - line)}, count);
            if (kind == LineKind::CountTooLarge)
                failCountTooLargeAt(path_, entry.blockStart_ + (line - data));
            if (kind == LineKind::Entry) {
                entry.count_ = count;
                entry.start_ = entryStart;
                entry.end_ = entry.blockStart_ + (lineEnd - data) + (lineEnd != data + block.size());
                take(entry);
                entryStart = entry.end_;
            }
            line = lineEnd + 1;
            return entryStart < nextCut_;
        };
        // The lines passed over up to a bit of the step at `at`.
        auto passOver = [&](const StepMasks& step, std::size_t at, std::uint64_t upTo) {
            if (std::uint64_t entries = step.entries & upTo)
                entryStart = std::max(entryStart, entry.blockStart_ + static_cast<std::int64_t>(at) + 64 -
                                                      __builtin_clzll(entries));
            if (std::uint64_t lineFeeds = step.lineFeeds & upTo)
                line = std::max(line, data + at + 64 - __builtin_clzll(lineFeeds));
        };
        // Steps of 64 bytes before the byte where an entry may end the
        // piece, then the lines one by one.
        auto stepped = static_cast<std::size_t>(std::clamp<std::int64_t>(
                           nextCut_ - 1 - entry.blockStart_, 0, static_cast<std::int64_t>(block.size()))) /
                       64 * 64;
        LineMasks masks;
        StepMasks steps[StepsAtOnce];
        for (std::size_t from = 0; from < stepped; from += 64 * StepsAtOnce) {
            // A count the taker comes to want fewer digits of meanwhile
            // only passes over fewer lines.
            std::size_t count = std::min(StepsAtOnce, (stepped - from) / 64);
            masks.next(data + from, count, leastDigits(), steps);
            for (std::size_t i = 0; i < count; ++i) {
                const StepMasks& step = steps[i];
                std::size_t at = from + 64 * i;
                for (std::uint64_t closer = step.lineFeeds & ~step.passOver; closer != 0;
                     closer &= closer - 1) {
                    int bit = __builtin_ctzll(closer);
                    passOver(step, at, (std::uint64_t{1} << bit) - 1);
                    atLineEnd(data + at + bit);
                }
                passOver(step, at, ~std::uint64_t{0});
            }
        }
        auto atLineFeed = [&](std::size_t lineFeed) { return atLineEnd(data + stepped + lineFeed); };
        if (!forEachLineFeed(block.substr(stepped), atLineFeed)) return;
        // Only the file's last line may have no LF.
        if (line < data + block.size() && !atLineEnd(data + block.size())) return;
    }
}
