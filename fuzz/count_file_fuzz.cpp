// The count-file reader against the count-file writer. The fuzz input is a
// list of entries: texts separated by NUL (a text never holds one), with
// counts of 1 to 3. The writer writes them; the reader reads them back in
// small blocks. Every entry the writer wrote comes back with its count, in
// order; only a text holding LF can add entries of its own (its lines before
// the LF), so without LF the two lists are equal. The raw input is also read
// as a count file on its own, from a buffer that ends where its allocation
// ends.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/output_file.h"
#include "formats/count_file.h"
#include "formats/count_file_reader.h"
#include "formats/count_lines.h"
#include "fuzz/fuzz_scratch.h"

namespace {

constexpr char Target[] = "count_file_fuzz";
const std::string& scratchPath() { return ::scratchPath<Target>(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 1) return 0;
    std::int64_t blockSize = bytes[0] % 64 + 1;
    std::string_view input(reinterpret_cast<const char*>(bytes) + 1, size - 1);

    std::unique_ptr<char[]> raw(new char[input.size()]);
    std::memcpy(raw.get(), input.data(), input.size());
    try {
        forEachCount(std::string_view(raw.get(), input.size()), "raw", [](std::int64_t) {});
    } catch (const IoError&) {
        // a count beyond 64 bits: refused, as it must be
    }

    bool anyLineFeed = false;
    std::vector<std::int64_t> written;
    {
        OutputFile file(scratchPath());
        OutputFileSink sink(file);
        CountLines lines(sink, 0);
        for (std::size_t start = 0; start <= input.size();) {
            std::size_t end = std::min(input.find('\0', start), input.size());
            std::string_view text = input.substr(start, end - start);
            anyLineFeed |= text.find('\n') != std::string_view::npos;
            written.push_back(static_cast<std::int64_t>(written.size() % 3 + 1));
            lines.add(text, written.back());
            start = end + 1;
        }
        lines.finish();
        file.close();
    }

    std::vector<std::int64_t> read;
    try {
        forEachCountInFile(
            scratchPath(), [&](std::int64_t count) { read.push_back(count); }, blockSize);
    } catch (const IoError&) {
        // Only a line of a text's own, cut off by its LF, can hold a number
        // beyond 64 bits after a ';'.
        require(anyLineFeed);
        return 0;
    }
    if (!anyLineFeed) {
        require(read == written);
    } else {
        // The written counts come back in order, among extra entries.
        std::size_t next = 0;
        for (std::int64_t count : read)
            if (next < written.size() && count == written[next]) ++next;
        require(next == written.size());
    }
    return 0;
}
