// The compressed formats a corpus may be stored in, recognised by their
// first bytes, and the formats a file's name promises.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

enum class Compression { None, Gzip, Zstd, Xz, Bzip2 };

// The most leading bytes compressionOf looks at.
inline constexpr std::size_t MagicBytes = 10;

// The format whose magic number the bytes begin with; None for anything
// else, also for bytes too short to hold a whole magic number. A zstd
// skippable frame counts as zstd. Bzip2's magic is text ("BZh9"), so its
// first block's magic (or the end-of-stream magic) must follow it: a text
// corpus that happens to begin "BZh9" stays plain.
Compression compressionOf(std::string_view firstBytes);

// The format a name's suffix promises (".gz", ".zst", ".zstd", ".xz",
// ".bz2", in any case); none for another name.
std::optional<Compression> compressionNamedBy(std::string_view path);

// "gzip", "zstd", "xz", "bzip2", or "plain" for None.
const char* compressionName(Compression compression);
