#include "common/output_file.h"

#include <charconv>

OutputFile::OutputFile(const std::string& path) : file_(path), out_(file_.descriptor(), path) {}

void OutputFile::writeText(std::string_view bytes) {
    for (std::size_t lineFeed; (lineFeed = bytes.find('\n')) != std::string_view::npos;) {
        write(bytes.substr(0, lineFeed));
        write("\r\n");
        bytes.remove_prefix(lineFeed + 1);
    }
    write(bytes);
}

void OutputFile::writeDecimal(std::int64_t value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    write(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

void OutputFile::close() {
    out_.flush();
    file_.commit();
}
