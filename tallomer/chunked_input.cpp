#include "tallomer/chunked_input.h"

#include <new>
#include <string>

#include "common/file_io.h"
#include "tallomer/character_ngrams.h"
#include "tallomer/ngram_count_table.h"
#include "tallomer/word_ngrams.h"

ChunkPlan planChunks(std::int64_t fileSize, std::int64_t chunkSize) {
    std::int64_t count = fileSize <= chunkSize ? 1 : fileSize / chunkSize + 1;
    return {fileSize, chunkSize, count};
}

void printFileSize(std::ostream& console, std::int64_t bytes) {
    console << "Filesize: " << static_cast<double>(bytes) / 1e6 << " MB" << std::endl;
}

void countInput(const Arguments& arguments, std::int64_t chunkSize, std::ostream& console,
                const MemoryCheck& checkMemory) {
    InputFile input(arguments.input);
    printFileSize(console, input.size());

    ChunkPlan plan = planChunks(input.size(), chunkSize);
    // Character windows that start near a chunk's end take their last bytes
    // from the next chunk: each chunk is read with up to N - 1 bytes after it.
    std::int64_t lookahead = arguments.mode == Mode::Characters ? arguments.n - 1 : 0;
    std::int64_t chunkBytes = plan.readLength(0, lookahead);
    std::int64_t scanBytes = arguments.mode == Mode::Words ? wordScanMemory(arguments.n) : 0;
    if (checkMemory) checkMemory(chunkBytes + scanBytes + LeastCountingMemory);
    ByteBuffer chunk;
    try {
        chunk = allocateBytes(chunkBytes);
    } catch (const std::bad_alloc&) {
        // Not helped by a smaller N: the chunk size is fixed.
        throw IoError(arguments.input, "out of memory: no room for the chunk buffer of " +
                                           std::to_string(chunkBytes) + " bytes");
    }
    reserveMemory(chunkBytes + scanBytes);

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
