// The count file read in pieces against one reading from the start. The
// fuzz input's first bytes choose up to seven cuts, the reader's block and
// window sizes and a number of digits; the rest is the file. The pieces
// must hand over exactly the entries (start, text, count) of one piece over
// the whole file, which must have the counts that the entropy's reader
// finds; the next entry start from every cut is the first start at or
// after it; with a number of digits asked for, only entries of fewer
// digits may be missing. Then the rest, cut at NUL bytes, is written as
// texts by the writer: without an LF in a text, one reading gives exactly
// those entries back.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "common/output_file.h"
#include "formats/count_file.h"
#include "formats/count_file_reader.h"
#include "formats/count_lines.h"
#include "formats/entry_locator.h"
#include "formats/entry_pieces.h"
#include "fuzz/fuzz_scratch.h"

namespace {

constexpr char Target[] = "entry_pieces_fuzz";
const std::string& scratchPath() { return ::scratchPath<Target>(); }

using Read = std::tuple<std::int64_t, std::string, std::int64_t>;

// The entries of the pieces between the cuts, in order; false for a count
// beyond 64 bits.
bool readPieces(const std::vector<std::int64_t>& cuts, std::int64_t block, std::int64_t window, int least,
                std::vector<Read>& read) {
    try {
        for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
            EntryPiece piece(scratchPath(), cuts[i], cuts[i + 1], block, window);
            piece.forEach(
                [&](EntryPiece::Entry& entry) {
                    read.emplace_back(entry.start(), std::string(entry.text()), entry.count());
                },
                [&] { return least; });
        }
        return true;
    } catch (const IoError&) {
        return false;
    }
}

void checkPieces(std::string_view file, const std::uint8_t* choices) {
    {
        OutputFile out(scratchPath());
        out.write(file);
        out.close();
    }
    auto size = static_cast<std::int64_t>(file.size());
    std::int64_t block = choices[0] % 100 + 1, window = choices[1] % 40 + 1;
    int least = choices[2] % 10;

    std::vector<Read> whole;
    bool wholeRead = readPieces({0, size}, 1 << 20, 4096, 0, whole);
    std::vector<std::int64_t> counts;
    bool countsRead = true;
    try {
        forEachCount(file, "raw", [&](std::int64_t count) { counts.push_back(count); });
    } catch (const IoError&) {
        countsRead = false;
    }
    require(wholeRead == countsRead);
    if (!wholeRead) return;
    require(whole.size() == counts.size());
    for (std::size_t i = 0; i < whole.size(); ++i) require(std::get<2>(whole[i]) == counts[i]);

    std::vector<std::int64_t> cuts{0};
    for (int i = 0; i < choices[3] % 8; ++i)
        cuts.push_back(size == 0 ? 0 : choices[4 + i] * 7919 % (size + 1));
    std::sort(cuts.begin(), cuts.end());
    cuts.push_back(size);
    std::vector<Read> pieces;
    require(readPieces(cuts, block, window, 0, pieces));
    require(pieces == whole);

    EntryLocator locator(scratchPath(), window);
    for (std::int64_t cut : cuts) {
        auto next =
            std::find_if(whole.begin(), whole.end(), [&](const Read& r) { return std::get<0>(r) >= cut; });
        std::optional<std::int64_t> start = locator.entryStartIn(cut, size);
        // The last entry may start at a line that is never ended by an LF.
        if (next == whole.end()) continue;
        require(start == std::get<0>(*next));
    }

    std::vector<Read> some;
    require(readPieces(cuts, block, window, least, some));
    std::size_t next = 0;
    for (const Read& entry : whole) {
        if (next < some.size() && some[next] == entry) {
            ++next;
            continue;
        }
        std::int64_t count = std::get<2>(entry);
        require(count >= 0 && std::to_string(count).size() < static_cast<std::size_t>(least));
    }
    require(next == some.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    constexpr std::size_t Choices = 11;
    if (size < Choices) return 0;
    std::string_view input(reinterpret_cast<const char*>(bytes) + Choices, size - Choices);
    checkPieces(input, bytes);

    // The writer's entries of the NUL-separated texts, read back.
    std::vector<std::pair<std::string, std::int64_t>> written;
    bool anyLineFeed = false;
    std::string file;
    {
        OutputFile out(scratchPath());
        OutputFileSink sink(out);
        CountLines lines(sink);
        for (std::size_t start = 0; start <= input.size();) {
            std::size_t end = std::min(input.find('\0', start), input.size());
            std::string text(input.substr(start, end - start));
            anyLineFeed |= text.find('\n') != std::string::npos;
            written.emplace_back(text, static_cast<std::int64_t>(written.size() * 37 % 1000));
            lines.add(text, written.back().second);
            start = end + 1;
        }
        lines.finish();
        out.close();
    }
    if (anyLineFeed) return 0;
    std::vector<Read> read;
    auto fileSize = static_cast<std::int64_t>(std::filesystem::file_size(scratchPath()));
    require(readPieces({0, fileSize / 2, fileSize}, bytes[0] % 100 + 1, 16, 0, read));
    require(read.size() == written.size());
    for (std::size_t i = 0; i < read.size(); ++i)
        require(std::get<1>(read[i]) == written[i].first && std::get<2>(read[i]) == written[i].second);
    return 0;
}
