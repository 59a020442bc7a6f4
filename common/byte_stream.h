// Bytes read once, front to back: standard input, a pipe, or a file's
// decompressed bytes.
#pragma once

#include <cstddef>

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Reads up to `bytes` bytes into `into`; returns how many, 0 only at the
    // stream's end. Throws IoError naming the input.
    virtual std::size_t read(char* into, std::size_t bytes) = 0;
};
