#include "counter_driver.h"

#include <algorithm>
#include <iostream>

#include "character_ngrams.h"
#include "console.h"
#include "file_io.h"
#include "ngram_count_table.h"
#include "number_text.h"
#include "report.h"
#include "word_ngrams.h"

constexpr const char* Program = "tallomer";

ParsedArguments parseArguments(const char* mode, const char* n, const char* input, const char* output) {
    Mode chosen;
    if (mode[0] == 'c')
        chosen = Mode::Characters;
    else if (mode[0] == 'w')
        chosen = Mode::Words;
    else
        return {std::nullopt, "mode \"" + std::string(mode) +
                                  "\" must begin with c (character n-grams) or w (word n-grams)"};

    std::int64_t largest = chosen == Mode::Characters ? MaxCharacterN : MaxWordN;
    auto value = parseLeadingInteger(n);
    if (!value || *value < 1 || *value > largest)
        return {std::nullopt, "N \"" + std::string(n) + "\" must be a whole number from 1 to " +
                                  std::to_string(largest) +
                                  (chosen == Mode::Characters ? " in character mode" : " in word mode")};
    return {Arguments{chosen, static_cast<std::int32_t>(*value), input, output}, {}};
}

ChunkPlan planChunks(std::int64_t fileSize, std::int64_t chunkSize) {
    std::int64_t count = fileSize <= chunkSize ? 1 : fileSize / chunkSize + 1;
    return {fileSize, chunkSize, count};
}

void printFileSize(std::ostream& console, std::int64_t bytes) {
    console << "Filesize: " << static_cast<double>(bytes) / 1e6 << " MB" << std::endl;
}

void countInput(const Arguments& arguments, std::int64_t chunkSize, std::ostream& console) {
    InputFile input(arguments.input);
    printFileSize(console, input.size());

    ChunkPlan plan = planChunks(input.size(), chunkSize);
    // Character windows that start near a chunk's end take their last bytes
    // from the next chunk: each chunk is read with up to N - 1 bytes after it.
    std::int64_t lookahead = arguments.mode == Mode::Characters ? arguments.n - 1 : 0;
    ByteBuffer chunk = allocateBytes(std::min(input.size(), plan.length(0) + lookahead));

    for (std::int64_t k = 0; k < plan.count; ++k) {
        console << std::endl << "Loading chunk into memory " << k + 1 << "/" << plan.count << std::endl;
        std::int64_t length = plan.length(k);
        if (arguments.mode == Mode::Characters) {
            std::int64_t available = std::min(length + lookahead, input.size() - plan.start(k));
            input.readAt(plan.start(k), chunk.data(), available);
            scanCharacterChunk(chunk.data(), length, available, arguments.n, console);
        } else {
            input.readAt(plan.start(k), chunk.data(), length);
            scanWordChunk(chunk.data(), length, arguments.n, console);
        }
    }
    input.close();
}

int runTallomer(int argc, const char* const* argv) {
    std::cout << "********Massive NGram counter********" << std::endl;
    if (argc != 5) {
        printUsageBlock("ngram [w/c word or character] [N] [input file] [output file]");
        return 1;
    }
    ParsedArguments parsed = parseArguments(argv[1], argv[2], argv[3], argv[4]);
    if (!parsed.arguments) {
        reportFailure(Program, "", parsed.error);
        return 1;
    }
    const Arguments& arguments = *parsed.arguments;

    std::cout << "Start..." << std::endl;
    int failed = runReportingFailures(Program, arguments.input,
                                      "out of memory: the distinct n-grams do not fit; try a smaller N", [&] {
                                          countInput(arguments, ChunkSize, std::cout);
                                          writeCountFile(arguments.output);
                                      });
    if (failed) return failed;
    waitForNumber();
    std::cout << std::endl << "Done." << std::endl;
    return checkStandardOutput(Program);
}
