// Reading a count file in blocks, entry by entry, by the rule of
// formats/count_file.h.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "common/file_io.h"
#include "formats/count_file.h"

// Throws IoError for the path: the count on that line does not fit in 64 bits.
[[noreturn]] void failCountTooLarge(const std::string& path, std::int64_t lineNumber);

// Calls takeCount(count) for every entry in `data`, in order, without copying
// and without reading outside the data. `data` starts a line, the line
// numbered `firstLine` in error reports. Returns the number of lines it held.
template <typename TakeCount>
std::int64_t forEachCount(std::string_view data, const std::string& path, TakeCount takeCount,
                          std::int64_t firstLine = 1) {
    const char* line = data.data();
    const char* end = line + data.size();
    std::int64_t lines = 0;
    while (line < end) {
        const void* lineFeed = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
        const char* lineEnd = lineFeed ? static_cast<const char*>(lineFeed) : end;
        std::int64_t count;
        switch (classifyCountLine(std::string_view(line, static_cast<std::size_t>(lineEnd - line)), count)) {
            case LineKind::Entry:
                takeCount(count);
                break;
            case LineKind::NotAnEntry:
                break;
            case LineKind::CountTooLarge:
                failCountTooLarge(path, firstLine + lines);
        }
        ++lines;
        if (lineEnd == end) break;
        line = lineEnd + 1;
    }
    return lines;
}

// A file read in blocks of whole lines through one small buffer that is
// reused, so a count file of any size costs a few MiB of memory and no
// fresh page for every byte it holds. The buffer grows only for a line
// longer than itself.
class LineBlockReader {
public:
    // Reads from `from` on, a place where a line starts.
    explicit LineBlockReader(const std::string& path, std::int64_t blockSize = DefaultBlockSize,
                             std::int64_t from = 0);

    // The next lines of the file: every block but the last ends with an LF.
    // Empty at the end of the file. Valid until the next call.
    std::string_view nextBlock();
    // Where the last block starts in the file.
    std::int64_t blockStart() const { return blockStart_; }
    void close() { file_.close(); }

    static constexpr std::int64_t DefaultBlockSize = 1 << 20;

private:
    InputFile file_;
    ByteBuffer buffer_;
    std::int64_t offset_;         // of the next byte to read from the file
    std::int64_t blockStart_;     // the file offset of the buffer's first byte
    std::int64_t tailStart_ = 0;  // the unfinished line after the last block
    std::int64_t tailEnd_ = 0;
};

// Calls takeCount(count) for every entry of the count file at `path`, in
// file order, in one pass. Throws IoError naming the path when the file
// cannot be read in full, and naming the line as well for a count that does
// not fit in 64 bits.
template <typename TakeCount>
void forEachCountInFile(const std::string& path, TakeCount takeCount,
                        std::int64_t blockSize = LineBlockReader::DefaultBlockSize) {
    LineBlockReader blocks(path, blockSize);
    std::int64_t nextLine = 1;
    for (std::string_view block; !(block = blocks.nextBlock()).empty();)
        nextLine += forEachCount(block, path, takeCount, nextLine);
    blocks.close();
}
