#include "tallomer/chunked_input.h"

#include "common/file_io.h"
#include "tallomer/character_ngrams.h"
#include "tallomer/word_ngrams.h"

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
    ByteBuffer chunk = allocateBytes(plan.readLength(0, lookahead));

    for (std::int64_t k = 0; k < plan.count; ++k) {
        console << std::endl << "Loading chunk into memory " << k + 1 << "/" << plan.count << std::endl;
        std::int64_t available = plan.readLength(k, lookahead);
        input.readAt(plan.start(k), chunk.data(), available);
        if (arguments.mode == Mode::Characters)
            scanCharacterChunk(chunk.data(), plan.length(k), available, arguments.n, console);
        else
            scanWordChunk(chunk.data(), plan.length(k), arguments.n, console);
    }
    input.close();
}
