#include "common/file_io.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "common/output_file.h"
#include "tests/support/run_program.h"

namespace {

TEST(OutputFile, WritesDecimalsInFullAndLineEnds) {
    TempDir dir;
    OutputFile file(dir.path("out"));
    for (std::int64_t value : {std::int64_t{0}, std::int64_t{2147483648}, INT64_MAX, INT64_MIN}) {
        file.writeDecimal(value);
        file.write(' ');
    }
    file.writeLineEnd();
    file.close();
    EXPECT_EQ(readFile(dir.path("out")), "0 2147483648 9223372036854775807 -9223372036854775808 \r\n");
}

TEST(OutputFile, WritesMoreThanItsBuffer) {
    TempDir dir;
    std::string big(3'000'001, 'x');
    OutputFile file(dir.path("out"));
    file.write("head");
    file.write(big);
    for (int i = 0; i < 2'000'000; ++i) file.write('y');
    file.close();
    EXPECT_EQ(readFile(dir.path("out")), "head" + big + std::string(2'000'000, 'y'));
}

TEST(InputFile, RefusesWhatIsNotARegularFile) {
    TempDir dir;
    std::filesystem::create_directory(dir.path("dir"));
    writeFile(dir.path("file"), "x");
    for (std::string path : {dir.path("dir"), dir.path("missing"), dir.path("file/below"),
                             std::string("/dev/null"), std::string("")}) {
        EXPECT_THROW(InputFile{path}, IoError) << path;
    }
}

TEST(InputFile, ReadsAtOffsetsAndRefusesShortReads) {
    TempDir dir;
    writeFile(dir.path("file"), "0123456789");
    InputFile file(dir.path("file"));
    EXPECT_EQ(file.size(), 10);
    char bytes[4];
    file.readAt(6, bytes, 4);
    EXPECT_EQ(std::string(bytes, 4), "6789");
    writeFile(dir.path("file"), "01");  // shrinks under the open file
    EXPECT_THROW(file.readAt(0, bytes, 4), IoError);
}

}  // namespace
