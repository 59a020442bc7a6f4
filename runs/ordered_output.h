// One output written by several threads at once, in pieces: each piece's
// blocks come from one thread, in order, and the output takes the pieces
// in their order. The piece being written goes straight to the output; the
// others are held in memory (the blocks themselves, their writer given
// another), up to a limit shared by all of them, and beyond it in a
// temporary file of their own, copied in when their turn comes. A piece may start only within `window` pieces
// of the one being written, so at most window - 1 pieces are held at once: memory at most the limit,
// temporary disk at most those pieces' bytes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/output_file.h"
#include "common/temporary_file.h"
#include "formats/count_lines.h"

// Where an ordered output's bytes go, in order: a file, or what reads them
// back (runs/record_blocks.h).
using OrderedBytes = std::function<void(std::string_view bytes)>;

class OrderedOutput {
public:
    // Thrown by take() once another thread has failed: its thread stops.
    struct Stopped {};

    OrderedOutput(OrderedBytes output, std::size_t pieces, std::size_t window, std::int64_t heldBytes,
                  std::string temporaryFolder);

    // Waits until the piece may start; false once a thread has failed.
    bool waitForTurn(std::size_t piece);
    // The next block of the piece, from the thread writing it (BlockSink).
    void take(std::size_t piece, CountBlock& block);
    // The piece is complete.
    void finish(std::size_t piece);
    // Keeps the first failure and wakes and stops the other threads.
    void fail(std::exception_ptr failure);
    std::exception_ptr failure() const;

private:
    struct Piece {
        std::vector<CountBlock> blocks;          // held in memory, then...
        std::unique_ptr<TemporaryFile> spilled;  // ...the rest
        bool direct = false, done = false;
    };
    // Writes what the piece holds to the output. Called by the one thread
    // that writes the output now, without the lock.
    void writeHeld(Piece& piece);

    OrderedBytes output_;
    std::string temporaryFolder_;
    std::size_t window_;
    std::int64_t heldLimit_;
    mutable std::mutex lock_;
    std::condition_variable turn_;
    std::vector<Piece> pieces_;
    std::size_t head_ = 0;  // the piece being written
    std::int64_t held_ = 0;
    std::vector<std::string> spare_;  // blocks written, for reuse: together at most the most held
    std::exception_ptr failure_;
};

// Calls produce(piece, sink) for every piece of `output`, on up to
// `threads` threads, each piece's bytes handed to its sink and written in
// order. The first failure of any piece is thrown once all threads have
// stopped.
void producePiecesInOrder(OrderedOutput& output, std::size_t pieces, std::size_t threads,
                          const std::function<void(std::size_t piece, BlockSink& sink)>& produce);

// The blocks of one piece.
class PieceSink final : public BlockSink {
public:
    PieceSink(OrderedOutput& output, std::size_t piece) : output_(output), piece_(piece) {}
    void take(CountBlock& block) override { output_.take(piece_, block); }

private:
    OrderedOutput& output_;
    std::size_t piece_;
};
