#include "input/compression.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Compression, IsToldByWholeMagicNumbersOnly) {
    using namespace std::string_literals;
    const std::string bzip2Block = "\x31\x41\x59\x26\x53\x59", bzip2End = "\x17\x72\x45\x38\x50\x90";
    struct Case {
        std::string bytes;
        Compression compression;
    };
    const Case cases[] = {
        {"", Compression::None},
        {"\x1F", Compression::None},
        {"\x1F\x8B", Compression::Gzip},
        {"\x28\xB5\x2F\xFD", Compression::Zstd},
        {"\x28\xB5\x2F", Compression::None},
        {"\x50\x2A\x4D\x18", Compression::Zstd},  // skippable frames, 0x184D2A50 to 0x184D2A5F
        {"\x5F\x2A\x4D\x18", Compression::Zstd},
        {"\x60\x2A\x4D\x18", Compression::None},
        {"\xFD\x37\x7A\x58\x5A\x00"s, Compression::Xz},
        {"\xFD\x37\x7A\x58\x5A\x01"s, Compression::None},
        {"BZh9" + bzip2Block, Compression::Bzip2},
        {"BZh1" + bzip2End, Compression::Bzip2},
        {"BZh0" + bzip2Block, Compression::None},
        {"BZh9 is where the text begins", Compression::None},
        {"BZh9" + bzip2Block.substr(0, 5), Compression::None},
    };
    for (const Case& c : cases) EXPECT_EQ(compressionOf(c.bytes), c.compression) << c.bytes;
}

}  // namespace
