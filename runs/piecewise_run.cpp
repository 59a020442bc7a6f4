#include "runs/piecewise_run.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/parallel.h"
#include "common/text_bytes.h"
#include "formats/record_codec.h"
#include "runs/run_format.h"

namespace {

// One piece's records, coded as RunWriter codes them except that its first
// record shares nothing with the text before (which another thread codes),
// and the places a reader may start, counted from the piece's start.
struct EncodedPiece {
    std::unique_ptr<char[]> bytes;
    std::size_t room = 0, used = 0;
    std::int64_t entries = 0;
    std::vector<RunCheckpoint> checkpoints;
    std::string last;  // the piece's last text

    char* roomFor(std::size_t record) {
        if (used + record > room) {
            std::size_t grown = std::max(2 * room, used + record);
            std::unique_ptr<char[]> larger(new char[grown]);
            std::copy_n(bytes.get(), used, larger.get());
            bytes = std::move(larger);
            room = grown;
        }
        return bytes.get() + used;
    }

    void encode(CountSource& source) {
        used = 0;
        entries = 0;
        checkpoints.clear();
        TextBuffer previous;
        auto nextCheckpoint = static_cast<std::size_t>(RunWriter::CheckpointBytes);
        while (source.next()) {
            std::string_view text = source.text();
            if (used >= nextCheckpoint && previous.view().size() <= RunWriter::LongestCheckpointText) {
                checkpoints.push_back(
                    {static_cast<std::int64_t>(used), entries, std::string(previous.view())});
                nextCheckpoint = used + static_cast<std::size_t>(RunWriter::CheckpointBytes);
            }
            std::size_t shared = sharedPrefix(previous.view(), text);
            std::string_view rest = text.substr(shared);
            char* record = roomFor(recordRoom(rest.size()));
            used += static_cast<std::size_t>(
                encodeRecord(record, shared, rest, static_cast<std::uint64_t>(source.count())) - record);
            copyShort(previous.keepAndResize(shared, text.size()) + shared, rest.data(), rest.size());
            ++entries;
        }
        last.assign(previous.view());
    }
};

// The run's checkpoints as a RunWriter keeps them: when there are twice
// the most, every other one goes and the distance doubles.
class Checkpoints {
public:
    explicit Checkpoints(Run& run) : run_(run) {}
    // The piece that begins at the run's end, after the text `before`.
    void addPiece(const EncodedPiece& piece, const std::string& before) {
        std::int64_t offset = run_.size(), entries = run_.entries;
        if (offset >= next_ && before.size() <= RunWriter::LongestCheckpointText)
            add({offset, entries, before});
        for (const RunCheckpoint& point : piece.checkpoints)
            if (offset + point.offset >= next_)
                add({offset + point.offset, entries + point.entriesBefore, point.previous});
    }

private:
    void add(RunCheckpoint point) {
        std::vector<RunCheckpoint>& points = run_.checkpoints;
        points.push_back(std::move(point));
        if (points.size() == 2 * RunWriter::MostCheckpoints) {
            for (std::size_t i = 1; i < RunWriter::MostCheckpoints; ++i) points[i] = std::move(points[2 * i]);
            points.resize(RunWriter::MostCheckpoints);
            spacing_ *= 2;
        }
        next_ = points.back().offset + spacing_;
    }

    Run& run_;
    std::int64_t spacing_ = RunWriter::CheckpointBytes;
    std::int64_t next_ = RunWriter::CheckpointBytes;
};

}  // namespace

std::int64_t largestRunBytes(const PiecewiseSource& source, int threads) {
    std::atomic<std::size_t> next{0};
    std::atomic<std::int64_t> bytes{0};
    std::size_t workers =
        std::clamp<std::size_t>(source.pieces(), 1, static_cast<std::size_t>(std::max(threads, 1)));
    runInParallel(workers, [&](std::size_t) {
        std::int64_t mine = 0;
        for (std::size_t piece; (piece = next.fetch_add(1, std::memory_order_relaxed)) < source.pieces();)
            mine += source.largestPieceBytes(piece);
        bytes.fetch_add(mine, std::memory_order_relaxed);
    });
    return bytes.load();
}

// Each thread takes the next piece not yet taken, encodes it and waits for
// the pieces before it to be appended: a piece is only awaited by pieces
// taken after it, so the first one not yet appended never waits. In turn a
// thread only takes the room for its piece in a memory run, and copies it
// in (the first touch of fresh pages) side by side with the others. A
// failure (a full disk) wakes the waiting threads, which give up.
void writePieces(Run& run, const PiecewiseSource& source, int threads) {
    std::size_t pieces = source.pieces();
    std::size_t workers = std::clamp<std::size_t>(pieces, 1, static_cast<std::size_t>(std::max(threads, 1)));
    std::atomic<std::size_t> nextPiece{0};
    std::mutex lock;
    std::condition_variable turn;
    std::size_t appended = 0;
    bool failed = false;
    Checkpoints checkpoints(run);
    std::string before;  // the last text appended
    runInParallel(workers, [&](std::size_t) {
        EncodedPiece encoded;
        try {
            for (std::size_t piece; (piece = nextPiece.fetch_add(1)) < pieces;) {
                encoded.encode(*source.piece(piece));
                std::unique_lock<std::mutex> held(lock);
                turn.wait(held, [&] { return appended == piece || failed; });
                if (failed) return;
                checkpoints.addPiece(encoded, before);
                std::vector<std::span<char>> room;
                if (encoded.used > 0 && (room = run.reserve(encoded.used)).empty())
                    run.append(encoded.bytes.get(), encoded.used);
                run.entries += encoded.entries;
                if (encoded.entries > 0) before = encoded.last;
                ++appended;
                held.unlock();
                turn.notify_all();
                const char* from = encoded.bytes.get();
                for (std::span<char> part : room) {
                    std::memcpy(part.data(), from, part.size());
                    from += part.size();
                }
            }
        } catch (...) {
            {
                std::lock_guard<std::mutex> held(lock);
                failed = true;
            }
            turn.notify_all();
            throw;
        }
    });
}
