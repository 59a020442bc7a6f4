#include "counting/chunked_input.h"

#include <atomic>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "common/file_io.h"
#include "counting/character_ngrams.h"
#include "counting/chunk_reader.h"
#include "counting/ngram_count_table.h"
#include "counting/word_chunk.h"
#include "counting/word_exchange.h"
#include "counting/word_ngrams.h"

ChunkPlan planChunks(std::int64_t fileSize, std::int64_t chunkSize) {
    std::int64_t count = fileSize <= chunkSize ? 1 : fileSize / chunkSize + 1;
    return {fileSize, chunkSize, count};
}

MemoryCheck memoryCheckWithin(const MemoryLimits& limits, std::int64_t budget, const std::string& input) {
    return [limits, budget, input](std::int64_t needed) {
        if (needed <= budget) return;
        auto megabytes = [](std::int64_t bytes) { return std::to_string((bytes + 999'999) / 1'000'000); };
        throw IoError(input, "out of memory: needs at least " + megabytes(limitForBudget(needed)) +
                                 " MB, the limits allow " + std::to_string(leastLimit(limits) / 1'000'000) +
                                 " MB");
    };
}

void printFileSize(std::ostream& console, std::int64_t bytes) {
    console << "Filesize: " << static_cast<double>(bytes) / 1e6 << " MB" << std::endl;
}

ChunkPlan planRangeChunks(std::int64_t fileSize, std::int64_t chunkSize, StartRange range) {
    std::int64_t count = range.to > range.from ? (range.to - range.from + chunkSize - 1) / chunkSize : 0;
    return {fileSize, chunkSize, count, range.from, range.to};
}

std::string rangeRefusal(Mode mode, StartRange range, std::int64_t fileSize, std::int64_t chunkSize) {
    auto text = [](std::int64_t value) { return std::to_string(value); };
    if (range.from < 0 || range.from > range.to)
        return "the range's start " + text(range.from) + " is past its end " + text(range.to);
    if (range.to > fileSize)
        return "the range's end " + text(range.to) + " is past the input's end (" + text(fileSize) +
               " bytes)";
    if (mode != Mode::Words) return {};
    for (auto [name, offset] : {std::pair{"start", range.from}, std::pair{"end", range.to}})
        if (offset % chunkSize != 0 && offset != fileSize)
            return std::string("the range's ") + name + " " + text(offset) + " is neither a multiple of " +
                   text(chunkSize) + " nor the input's size: word mode scans each chunk of " +
                   text(chunkSize) + " bytes on its own, and a cut elsewhere would lose or split words";
    return {};
}

namespace {

// A second chunk buffer, for reading the next chunk while this one is
// counted, pays when another CPU reads it and the budget keeps most of its
// room for counting. Word mode counts on every CPU, and a chunk read in
// pieces (a file's) is read by all of them at once: there a second buffer
// would only take memory and the first touch of its pages.
bool readsAhead(const NGramCountTable& table, Mode mode, const ChunkSource& source, std::int64_t chunkBytes) {
    if (mode == Mode::Words && source.readsInPieces()) return false;
    return table.threads() > 1 && table.workingMemory() >= 4 * chunkBytes;
}

// Tells the console each chunk's bytes exactly once: those the scanners
// told as they went, and the rest when the chunk is counted.
class ChunkTally final : public CountingConsole {
public:
    explicit ChunkTally(const CountingConsole& console) : console_(console) {}
    void dots(std::int64_t count) const override { console_.dots(count); }
    void counted(std::int64_t bytes) const override {
        told_.fetch_add(bytes, std::memory_order_relaxed);
        console_.counted(bytes);
    }
    void chunkCounted(std::int64_t length) const {
        console_.counted(length - told_.exchange(0, std::memory_order_relaxed));
    }

private:
    const CountingConsole& console_;
    mutable std::atomic<std::int64_t> told_{0};
};

// Counts the source's chunks (`chunks` of them, or up to the last one when
// negative) of up to `chunkBytes` bytes each, announcing each by
// announce(k). `heldAside` bytes of the budget are the source's.
void countChunks(NGramCountTable& table, const Arguments& arguments, ChunkSource& source,
                 std::int64_t chunkBytes, std::int64_t chunks, std::int64_t heldAside,
                 const CountingConsole& console, const MemoryCheck& checkMemory,
                 const std::function<void(std::int64_t k)>& announce) {
    std::int64_t scanBytes = arguments.mode == Mode::Words ? wordScanMemory(arguments.n) : 0;
    if (checkMemory) checkMemory(chunkBytes + scanBytes + heldAside + LeastCountingMemory);
    ByteBuffer chunk, ahead;
    try {
        chunk = allocateBytes(chunkBytes);
    } catch (const std::bad_alloc&) {
        // Not helped by a smaller N: the chunk size is fixed.
        throw IoError(arguments.input, "out of memory: no room for the chunk buffer of " +
                                           std::to_string(chunkBytes) + " bytes");
    }
    std::int64_t reserved = chunkBytes + scanBytes + heldAside;
    table.reserveMemory(reserved);
    if (chunks != 0 && chunks != 1 && readsAhead(table, arguments.mode, source, chunkBytes)) {
        try {
            ahead = allocateBytes(chunkBytes);
            table.reserveMemory(reserved += chunkBytes);
        } catch (const std::bad_alloc&) {
            // Read in turn with counting, as on one CPU.
        }
    }
    if (arguments.mode == Mode::Words) {
        table.shareWordCounting();
        auto threads = static_cast<std::int64_t>(table.wordTables());
        std::int64_t exchange = wordExchangeMemory(table.wordTables(), arguments.n, table.workingMemory());
        table.reserveMemory(reserved + (scanBytes + exchange) * threads - scanBytes);
    }

    ChunkTally tally(console);
    ChunkReader reader(
        source, std::move(chunk), std::move(ahead), [&](std::int64_t length) { tally.chunkCounted(length); },
        static_cast<std::size_t>(table.threads()));
    CharacterScanner characters(table);
    std::optional<WordChunks> words;
    if (arguments.mode == Mode::Words) words.emplace(table, arguments.n);
    FilledChunk filled;
    for (std::int64_t k = 0; chunks < 0 ? !filled.last : k < chunks; ++k) {
        announce(k);
        const char* bytes = reader.next(filled);
        if (arguments.mode == Mode::Characters)
            characters.scanChunk(bytes, filled.length, filled.available, arguments.n, tally);
        else
            words->count(bytes, filled.length, tally);
    }
    characters.finish();
}

// Reads and counts the plan's chunks of the file, telling the size and
// each chunk.
void countFileChunks(NGramCountTable& table, const Arguments& arguments, InputFile& input,
                     const ChunkPlan& plan, const CountingConsole& console, const MemoryCheck& checkMemory) {
    console.fileSize(input.size());
    std::int64_t lookahead = chunkLookahead(arguments.mode, arguments.n);
    FileChunks chunks(input, plan, lookahead);
    std::int64_t chunkBytes = plan.count > 0 ? plan.readLength(0, lookahead) : 0;
    countChunks(table, arguments, chunks, chunkBytes, plan.count, 0, console, checkMemory,
                [&](std::int64_t k) { console.chunkStarts(k, plan.count); });
    input.close();
}

}  // namespace

void countInput(NGramCountTable& table, const Arguments& arguments, std::int64_t chunkSize,
                const CountingConsole& console, const MemoryCheck& checkMemory) {
    InputFile input(arguments.input);
    countFileChunks(table, arguments, input, planChunks(input.size(), chunkSize), console, checkMemory);
}

std::int64_t countInputRange(NGramCountTable& table, const Arguments& arguments, std::int64_t from,
                             std::optional<std::int64_t> to, std::int64_t chunkSize,
                             const CountingConsole& console, const MemoryCheck& checkMemory) {
    InputFile input(arguments.input);
    std::int64_t size = input.size();
    StartRange range{from, to.value_or(size)};
    if (std::string refusal = rangeRefusal(arguments.mode, range, size, chunkSize); !refusal.empty())
        throw IoError(arguments.input, refusal);
    countFileChunks(table, arguments, input, planRangeChunks(size, chunkSize, range), console, checkMemory);
    return size;
}

std::int64_t countStream(NGramCountTable& table, const Arguments& arguments, ByteStream& stream,
                         std::int64_t chunkSize, const CountingConsole& console, std::int64_t heldAside,
                         const MemoryCheck& checkMemory) {
    StreamChunks chunks(stream, chunkSize, chunkLookahead(arguments.mode, arguments.n));
    countChunks(table, arguments, chunks, chunkSize + chunkLookahead(arguments.mode, arguments.n), -1,
                heldAside, console, checkMemory, [](std::int64_t) {});
    return chunks.size();
}
