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
    // Makes a read in flight on another thread end soon, and every later
    // one fail: called when no one wants the bytes any more, so that a
    // writer who pauses cannot hold the program. From any thread.
    virtual void stop() {}
};
