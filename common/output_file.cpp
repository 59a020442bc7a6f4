#include "common/output_file.h"

#include <charconv>

OutputFile::OutputFile(const std::string& path) : file_(path), out_(file_.descriptor(), path) {
    out_.startWritebackEvery(WritebackStep);
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
