#include "input/compression.h"

#include <algorithm>
#include <cctype>

namespace {

bool startsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

bool isZstdSkippableFrame(std::string_view bytes) {
    // The magic numbers 0x184D2A50 to 0x184D2A5F, little-endian.
    return bytes.size() >= 4 && (static_cast<unsigned char>(bytes[0]) & 0xF0) == 0x50 &&
           startsWith(bytes.substr(1), "\x2A\x4D\x18");
}

bool isBzip2(std::string_view bytes) {
    using namespace std::string_view_literals;
    if (bytes.size() < 10 || !startsWith(bytes, "BZh") || bytes[3] < '1' || bytes[3] > '9') return false;
    std::string_view next = bytes.substr(4, 6);
    return next == "\x31\x41\x59\x26\x53\x59"sv || next == "\x17\x72\x45\x38\x50\x90"sv;
}

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

}  // namespace

Compression compressionOf(std::string_view firstBytes) {
    using namespace std::string_view_literals;
    if (startsWith(firstBytes, "\x1F\x8B"sv)) return Compression::Gzip;
    if (startsWith(firstBytes, "\x28\xB5\x2F\xFD"sv) || isZstdSkippableFrame(firstBytes))
        return Compression::Zstd;
    if (startsWith(firstBytes, "\xFD\x37\x7A\x58\x5A\x00"sv)) return Compression::Xz;
    if (isBzip2(firstBytes)) return Compression::Bzip2;
    return Compression::None;
}

std::optional<Compression> compressionNamedBy(std::string_view path) {
    struct Suffix {
        std::string_view text;
        Compression compression;
    };
    static constexpr Suffix suffixes[] = {{".gz", Compression::Gzip},
                                          {".zst", Compression::Zstd},
                                          {".zstd", Compression::Zstd},
                                          {".xz", Compression::Xz},
                                          {".bz2", Compression::Bzip2}};
    for (const Suffix& suffix : suffixes)
        if (endsWithNoCase(path, suffix.text)) return suffix.compression;
    return std::nullopt;
}

const char* compressionName(Compression compression) {
    switch (compression) {
        case Compression::Gzip:
            return "gzip";
        case Compression::Zstd:
            return "zstd";
        case Compression::Xz:
            return "xz";
        case Compression::Bzip2:
            return "bzip2";
        case Compression::None:
            break;
    }
    return "plain";
}
