// An output file written whole or not at all: the path keeps its old bytes
// until close() has put the complete new file in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/file_io.h"
#include "common/replacement_file.h"

// A file written through a BufferedWriter. The output only takes the path's
// place in close(), once all of it is on disk (see ReplacementFile):
// destroyed without close(), or after any error, it leaves the path as it
// was.
class OutputFile {
public:
    // The disk starts writing each this many bytes as they are written
    // (BufferedWriter::startWritebackEvery).
    static constexpr std::int64_t WritebackStep = std::int64_t{32} << 20;

    explicit OutputFile(const std::string& path);

    void write(std::string_view bytes) { out_.write(bytes); }
    void write(char byte) { out_.write(byte); }
    void writeDecimal(std::int64_t value);
    void writeLineEnd() { write("\r\n"); }
    char* room(std::size_t bytes) { return out_.room(bytes); }
    void commit(std::size_t bytes) { out_.commit(bytes); }
    void close();

private:
    ReplacementFile file_;
    BufferedWriter out_;
};
