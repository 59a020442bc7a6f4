#include "count_file_reader.h"

#include <algorithm>

#include "file_io.h"

void failCountTooLarge(const std::string& path, std::string_view data, const char* line) {
    auto lineNumber = std::count(data.data(), line, '\n') + 1;
    throw IoError(path, "line " + std::to_string(lineNumber) + ": the count does not fit in 64 bits");
}
