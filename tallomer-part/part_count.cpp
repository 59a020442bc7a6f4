#include "tallomer-part/part_count.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "common/progress_line.h"
#include "common/temporary_file.h"
#include "counting/chunked_input.h"
#include "counting/count_request.h"
#include "counting/ngram_count_table.h"
#include "formats/part_file.h"
#include "input/stored_input.h"

namespace {
constexpr const char* Program = "tallomer-part";

// The input's path made absolute and normal ("./a" and "a" alike), so that
// every part of one input names it the same. Links are not resolved: a
// workflow gives every node the same path, whatever it leads to there.
std::string absoluteName(const std::string& path) {
    return std::filesystem::absolute(path).lexically_normal().string();
}

// A part task's log gets one line at the end, not tallomer's console: the
// bytes counted go to the progress line alone.
class ProgressConsole final : public CountingConsole {
public:
    explicit ProgressConsole(ProgressLine& progress) : progress_(progress) {}
    void counted(std::int64_t bytes) const override { progress_.add(bytes); }

private:
    ProgressLine& progress_;
};

// What a part counted, for its header.
struct Counted {
    InputIdentity input;
    std::string inputName;
    std::int64_t from = 0, to = 0;
};

// A plain file: any range, read at its offsets.
Counted countFileRange(NGramCountTable& table, const Arguments& arguments, const PartRange& range,
                       const MemoryCheck& checkMemory, ProgressLine& progress) {
    // Taken before and after counting: a file edited, replaced or grown
    // meanwhile would give a part of no one version.
    InputIdentity before = inputIdentity(arguments.input);
    progress.startPhase("counting", std::max<std::int64_t>(range.to.value_or(before.size) - range.from, 0));
    std::int64_t size = countInputRange(table, arguments, range.from, range.to, ChunkSize,
                                        ProgressConsole(progress), checkMemory);
    Counted counted{inputIdentity(arguments.input), absoluteName(arguments.input), range.from,
                    range.to.value_or(size)};
    if (counted.input != before || size != before.size)
        throw IoError(arguments.input, "changed while being counted");
    return counted;
}

// A stream has no name that tells it from another: its part is named for
// the machine, the process and the moment that read it, so that a merge
// takes two streams for two inputs. Its size is what it held.
Counted streamCounted(const std::string& path, std::int64_t size) {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    std::int64_t nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    char host[256] = "";
    ::gethostname(host, sizeof host - 1);
    std::string name = (path == "-" ? std::string("standard input") : absoluteName(path)) +
                       " (a stream read on " + host + " by process " + std::to_string(::getpid()) + ", at " +
                       std::to_string(nanoseconds) + " ns since 1970)";
    return {{size, nanoseconds, 0}, name, 0, size};
}

// A compressed file or a stream: read once, front to back, so counted
// whole. A compressed file keeps its own identity, with the size of its
// data, which its part covers.
Counted countWhole(NGramCountTable& table, const Arguments& arguments, const PartRange& range,
                   StoredInput& input, std::int64_t decoderMemory, const MemoryCheck& checkMemory,
                   ProgressLine& progress) {
    // Standard input is a stream even when it comes from a file: it has no
    // name to check the file by.
    bool stream = input.isStream() || arguments.input == "-";
    if (range.from != 0 || range.to)
        throw IoError(input.name(), std::string(stream ? "a stream" : "a compressed file") +
                                        " is counted whole: FROM must be 0 and TO end");
    std::optional<InputIdentity> before;
    if (!stream) before = inputIdentity(arguments.input);
    // The size of the data is known only at its end.
    progress.startPhase("counting", std::nullopt);
    std::int64_t size = countStream(table, arguments, input, ChunkSize, ProgressConsole(progress),
                                    StoredBytes::BufferSize + decoderMemory, checkMemory);
    if (!before) return streamCounted(arguments.input, size);
    if (inputIdentity(arguments.input) != *before)
        throw IoError(arguments.input, "changed while being counted");
    InputIdentity identity = *before;
    identity.size = size;
    return {identity, absoluteName(arguments.input), 0, size};
}

}  // namespace

void countPartAndWrite(const Arguments& arguments, const PartRange& range, const CountingSession& session) {
    MemoryCheck checkMemory = session.checkMemoryFor(arguments.input);
    NGramCountTable table = session.table(arguments.output, temporaryFolderOrTmpdir(arguments.output));
    std::int64_t budget = session.budget();
    // On standard error when it is a terminal; erased before any failure
    // is reported.
    ProgressLine progress(Program);
    Counted counted;
    {
        // Its first bytes tell whether it is compressed; a name that says
        // otherwise is refused.
        // The decoder's window comes out of the budget: an eighth of it, at
        // least enough for the formats' usual windows.
        std::int64_t decoderMemory =
            std::clamp(budget / 8, std::int64_t{16} << 20, StoredInput::DefaultDecoderMemory);
        StoredInput input(arguments.input, decoderMemory);
        if (countedWhole(input))
            counted = countWhole(table, arguments, range, input, decoderMemory, checkMemory, progress);
        else
            counted = countFileRange(table, arguments, range, checkMemory, progress);
    }
    PartHeader header;
    header.mode = arguments.mode == Mode::Characters ? 'c' : 'w';
    header.n = arguments.n;
    header.input = counted.input;
    header.from = counted.from;
    header.to = counted.to;
    header.inputName = counted.inputName;
    // The chunk buffer is gone: the part's writer holds what the budget
    // keeps aside now.
    table.reserveMemory(PartWriter::MemoryBytes);
    PartWriter part(arguments.output, header);
    progress.startPhase("writing the part", std::nullopt);
    table.visitCountsInOrder(
        [&](std::string_view text, std::int64_t count) {
            part.add(text, count);
            if ((part.entries() & 0xFFFF) == 0) progress.set(part.bytesWritten());
        },
        arguments.output);
    part.commit();
    progress.finish();
    std::cout << arguments.output << ": " << part.entries() << " distinct n-grams, " << part.totalCount()
              << " in all, bytes " << header.from << "-" << header.to << " of " << arguments.input
              << std::endl;
}
