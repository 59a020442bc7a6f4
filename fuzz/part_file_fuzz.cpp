// The part-file reader on any bytes, and against the part-file writer. The
// raw input is read as a part file, whole and from its last indexed prefix
// on, from the index's start and from a page noted as it was read through:
// the reader may refuse it (IoError) but never crash or read outside what
// it holds, and both starts must give the same entries. Then the input, cut at LF into texts (NUL and every
// other byte kept), sorted and made distinct, is written as a part and must read back the same, whole and
// from a text on.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/part_file.h"
#include "fuzz/fuzz_scratch.h"

namespace {

constexpr char Target[] = "part_file_fuzz";
const std::string& scratchPath() { return ::scratchPath<Target>(); }

using Entries = std::vector<std::pair<std::string, std::int64_t>>;

Entries readAll(PartReader& reader) {
    Entries read;
    while (reader.next()) read.emplace_back(std::string(reader.text()), reader.count());
    return read;
}

// The last indexed prefix, and every page noted in `pages`.
std::string lastIndexedPrefix(const PartReader& reader, PartPages& pages) {
    std::string last;
    PartIndexCursor index = reader.index();
    while (index.nextPage()) {
        pages.add(index.page().front().prefix, index.position());
        last = index.page().back().prefix;
    }
    return last;
}

// The entries from `from` on, read from the index's start and from the
// page noted before `from`, which must agree.
Entries readFrom(const std::string& from, std::size_t bufferBytes, const PartPages& pages) {
    PartReader restricted(scratchPath(), bufferBytes);
    restricted.restrictTo(from, std::nullopt);
    Entries read = readAll(restricted);
    PartReader fromPage(scratchPath(), bufferBytes);
    fromPage.restrictTo(from, std::nullopt, &pages);
    require(readAll(fromPage) == read);
    return read;
}

void readRaw(std::string_view bytes, std::size_t bufferBytes) {
    std::FILE* file = std::fopen(scratchPath().c_str(), "wb");
    require(file != nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    try {
        PartReader reader(scratchPath(), bufferBytes);
        PartPages pages;
        std::string from = lastIndexedPrefix(reader, pages);
        readAll(reader);
        readFrom(from, bufferBytes, pages);
    } catch (const IoError&) {
        // refused, as a damaged file must be
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 1) return 0;
    std::size_t bufferBytes = std::size_t{bytes[0]} * 64 + 1;
    std::string_view input(reinterpret_cast<const char*>(bytes) + 1, size - 1);
    readRaw(input, bufferBytes);

    std::set<std::string> texts;
    for (std::size_t start = 0; start <= input.size();) {
        std::size_t end = std::min(input.find('\n', start), input.size());
        texts.emplace(input.substr(start, end - start));
        start = end + 1;
    }
    Entries written;
    {
        // An odd first byte spills the index to a temporary file.
        PartWriter writer(scratchPath(),
                          PartHeader{'c', 2, {10, 0, 7}, 0, 10, std::string(input.substr(0, 8))},
                          bytes[0] % 2 == 1 ? 1 : PartWriter::IndexMemoryBytes);
        for (const std::string& text : texts) {
            written.emplace_back(text, static_cast<std::int64_t>(written.size() % 5 + 1));
            writer.add(text, written.back().second);
        }
        writer.commit();
    }
    PartReader reader(scratchPath(), bufferBytes);
    require(readAll(reader) == written);
    std::string from = written[written.size() / 2].first;
    PartPages pages;
    lastIndexedPrefix(reader, pages);
    require(readFrom(from, bufferBytes, pages) ==
            Entries(written.begin() + static_cast<std::ptrdiff_t>(written.size() / 2), written.end()));
    return 0;
}
