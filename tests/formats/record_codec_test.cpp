#include "formats/record_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string encoded(std::size_t shared, const std::string& rest, std::uint64_t count) {
    std::string bytes(recordRoom(rest.size()), '\0');
    char* end = encodeRecord(bytes.data(), shared, rest, count);
    bytes.resize(static_cast<std::size_t>(end - bytes.data()));
    return bytes;
}

const unsigned char* bytesOf(const std::string& bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.data());
}

// The bytes of part files and runs: shared, rest length, rest, count.
TEST(RecordCodec, EncodesTheStoredLayout) {
    EXPECT_EQ(encoded(3, "abc", 5), std::string("\x03\x03") + "abc\x05");
    EXPECT_EQ(encoded(0, "", 0), std::string("\x00\x00\x00", 3));
    EXPECT_EQ(encoded(200, "x", 300), std::string("\xC8\x01\x01x\xAC\x02"));
    std::string longRest(130, 'r');
    EXPECT_EQ(encoded(1, longRest, 1), "\x01\x82\x01" + longRest + "\x01");
}

TEST(RecordCodec, MostRecordBytesBoundsEveryShare) {
    for (std::size_t textBytes : {0u, 24u, 127u, 128u, 300u})
        for (std::size_t shared = 0; shared <= textBytes; shared += textBytes / 4 + 1)
            for (std::uint64_t count : {1u, 127u, 128u, 1u << 20})
                EXPECT_LE(encoded(shared, std::string(textBytes - shared, 't'), count).size(),
                          mostRecordBytes(textBytes, count));
    EXPECT_EQ(mostRecordBytes(24, 1), 27u);
}

TEST(RecordCodec, ReadsTheShortStartOnly) {
    std::string bytes = encoded(7, "abc", 5);
    const char* in = bytes.data();
    std::uint64_t shared = 0, rest = 0;
    ASSERT_TRUE(readShortRecordStart(in, bytes.data() + bytes.size(), shared, rest));
    EXPECT_EQ(shared, 7u);
    EXPECT_EQ(rest, 3u);
    EXPECT_EQ(in, bytes.data() + 2);

    // A number of two bytes, or fewer than two bytes left: `in` stays.
    bytes = encoded(200, "x", 1);
    in = bytes.data();
    EXPECT_FALSE(readShortRecordStart(in, bytes.data() + bytes.size(), shared, rest));
    EXPECT_EQ(in, bytes.data());
    EXPECT_FALSE(readShortRecordStart(in, bytes.data() + 1, shared, rest));
    EXPECT_EQ(in, bytes.data());
}

TEST(RecordCodec, ReadsALongStartWithinBounds) {
    std::string bytes = encoded(200, std::string(300, 'x'), 1);
    const unsigned char* in = bytesOf(bytes);
    const unsigned char* end = in + bytes.size();
    std::uint64_t shared = 0, rest = 0;
    ASSERT_TRUE(readBoundedRecordStart(in, end, shared, rest));
    EXPECT_EQ(shared, 200u);
    EXPECT_EQ(rest, 300u);
    EXPECT_EQ(in, bytesOf(bytes) + 4);

    // The second number cut off by the end.
    in = bytesOf(bytes);
    EXPECT_FALSE(readBoundedRecordStart(in, bytesOf(bytes) + 3, shared, rest));
    // A number beyond 64 bits.
    std::string tooLong(10, '\xFF');
    tooLong += '\x01';
    in = bytesOf(tooLong);
    EXPECT_FALSE(readBoundedRecordStart(in, in + tooLong.size(), shared, rest));
}

}  // namespace
