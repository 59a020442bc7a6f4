// The record of a sorted list of (text, count), each text once, in
// ascending memcmp order: the one layout of a sorted run's bytes
// (runs/run_format.h) and of a part file's blocks (formats/part_file.h),
// coded here and nowhere else.
//
// A record is the number of leading bytes its text shares with the text
// before it, the number of bytes that follow, those bytes, and the count,
// the three numbers as varints (common/varint.h: 7 bits a byte, low bits
// first). Neighbouring texts of a sorted list share most of their bytes, so
// the records are smaller than the count file's lines. Nearly every record
// begins with two numbers below 128, one byte each.
//
// Both writers write through encodeRecord, and the window sorter bounds a
// run's bytes with mostRecordBytes. Both readers take a record's first two
// numbers through readShortRecordStart: a run's reader trusts its bytes
// (this process wrote them) and reads longer numbers as it refills its
// buffer; a part file's reader checks every number against its block (part
// files come from elsewhere), through readBoundedRecordStart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/text_bytes.h"
#include "common/varint.h"

// The room encodeRecord needs for a text with `restBytes` after the shared
// ones: three varints of at most 10 bytes each, and those bytes.
inline constexpr std::size_t recordRoom(std::size_t restBytes) { return 3 * 10 + restBytes; }

// The most bytes the record of a text of up to `textBytes` bytes with the
// count takes, whatever it shares.
inline std::size_t mostRecordBytes(std::size_t textBytes, std::uint64_t count) {
    return 2 * varintBytes(textBytes) + textBytes + varintBytes(count);
}

// Writes the record of a text that shares `shared` bytes with the one
// before it and then has `rest`, at `out`, which has recordRoom(rest.size())
// bytes; returns the end of the record.
inline char* encodeRecord(char* out, std::size_t shared, std::string_view rest, std::uint64_t count) {
    out = appendVarint(out, shared);
    out = appendVarint(out, rest.size());
    copyShort(out, rest.data(), rest.size());
    return appendVarint(out + rest.size(), count);
}

// A record's first two numbers when both lie in [in, end) and take one
// byte each, as nearly all do: true, and `in` moves past them; otherwise
// false, and `in` stays.
template <typename Byte>
[[gnu::always_inline]] inline bool readShortRecordStart(const Byte*& in, const Byte* end,
                                                        std::uint64_t& shared, std::uint64_t& rest) {
    static_assert(sizeof(Byte) == 1);
    if (end - in < 2 || static_cast<unsigned char>(in[0]) >= 0x80 ||
        static_cast<unsigned char>(in[1]) >= 0x80)
        return false;
    shared = static_cast<unsigned char>(in[0]);
    rest = static_cast<unsigned char>(in[1]);
    in += 2;
    return true;
}

// A record's first two numbers from bytes from elsewhere: false when one
// does not end before `end` or does not fit in 64 bits.
[[gnu::always_inline]] inline bool readBoundedRecordStart(const unsigned char*& in, const unsigned char* end,
                                                          std::uint64_t& shared, std::uint64_t& rest) {
    return readShortRecordStart(in, end, shared, rest) ||
           (readBoundedVarint(in, end, shared) && readBoundedVarint(in, end, rest));
}
