#include "runs/ordered_output.h"

#include <algorithm>
#include <atomic>

#include "common/parallel.h"

OrderedOutput::OrderedOutput(OrderedBytes output, std::size_t pieces, std::size_t window,
                             std::int64_t heldBytes, std::string temporaryFolder)
    : output_(std::move(output)),
      temporaryFolder_(std::move(temporaryFolder)),
      window_(std::max<std::size_t>(window, 1)),
      heldLimit_(heldBytes),
      pieces_(pieces) {}

bool OrderedOutput::waitForTurn(std::size_t piece) {
    std::unique_lock<std::mutex> hold(lock_);
    turn_.wait(hold, [&] { return failure_ || piece < head_ + window_; });
    return !failure_;
}

void OrderedOutput::take(std::size_t index, CountBlock& block) {
    Piece& piece = pieces_[index];
    bool inMemory = false;
    std::string replacement;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (failure_) throw Stopped();
        // Its turn: what it held goes out first.
        if (head_ == index) piece.direct = true;
        // Held in memory while the limit allows; once a piece has spilled,
        // all its later bytes go after the spilled ones.
        auto room = static_cast<std::int64_t>(block.bytes.size());
        if (!piece.direct && !piece.spilled && held_ + room <= heldLimit_) {
            held_ += room;
            inMemory = true;
            if (!spare_.empty() && spare_.back().size() == block.bytes.size()) {
                replacement = std::move(spare_.back());
                spare_.pop_back();
            }
        }
    }
    // Only this thread touches the piece until it is done.
    if (piece.direct) {
        writeHeld(piece);
        output_(block.view());
    } else if (inMemory) {
        if (replacement.empty()) replacement.assign(block.bytes.size(), '\0');
        piece.blocks.push_back({std::move(block.bytes), block.used});
        block.bytes = std::move(replacement);
    } else {
        if (!piece.spilled) piece.spilled = std::make_unique<TemporaryFile>(temporaryFolder_);
        piece.spilled->write(block.bytes.data(), block.used);
    }
    block.used = 0;
}

void OrderedOutput::writeHeld(Piece& piece) {
    std::int64_t freed = 0;
    for (CountBlock& block : piece.blocks) {
        output_(block.view());
        freed += static_cast<std::int64_t>(block.bytes.size());
    }
    if (piece.spilled) {
        piece.spilled->finish();
        std::string buffer(CountLines::BlockBytes, '\0');
        for (std::int64_t at = 0; at < piece.spilled->size();) {
            std::size_t got = piece.spilled->readAt(at, buffer.data(), buffer.size());
            output_({buffer.data(), got});
            at += static_cast<std::int64_t>(got);
        }
        piece.spilled.reset();
    }
    if (!piece.blocks.empty()) {
        // Kept for the next held blocks: fresh memory costs the kernel
        // more than keeping it.
        std::lock_guard<std::mutex> hold(lock_);
        held_ -= freed;
        for (CountBlock& block : piece.blocks) spare_.push_back(std::move(block.bytes));
        piece.blocks.clear();
    }
}

void OrderedOutput::finish(std::size_t index) {
    std::unique_lock<std::mutex> hold(lock_);
    pieces_[index].done = true;
    // The thread that finishes the piece being written writes the pieces
    // after it that are done as well, and hands the output on to the first
    // that is still being merged, which writes what it held at its next
    // block.
    while (head_ == index && !failure_) {
        hold.unlock();
        writeHeld(pieces_[index]);
        hold.lock();
        ++head_;
        turn_.notify_all();
        if (head_ == pieces_.size() || !pieces_[head_].done) break;
        index = head_;
    }
}

void OrderedOutput::fail(std::exception_ptr failure) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!failure_) failure_ = failure;
    turn_.notify_all();
}

void producePiecesInOrder(OrderedOutput& output, std::size_t pieces, std::size_t threads,
                          const std::function<void(std::size_t piece, BlockSink& sink)>& produce) {
    std::atomic<std::size_t> next{0};
    runInParallel(std::min(threads, pieces), [&](std::size_t) {
        try {
            for (;;) {
                std::size_t piece = next.fetch_add(1);
                if (piece >= pieces || !output.waitForTurn(piece)) return;
                PieceSink sink(output, piece);
                produce(piece, sink);
                output.finish(piece);
            }
        } catch (const OrderedOutput::Stopped&) {
        } catch (...) {
            output.fail(std::current_exception());
        }
    });
    if (std::exception_ptr failure = output.failure()) std::rethrow_exception(failure);
}

std::exception_ptr OrderedOutput::failure() const {
    std::lock_guard<std::mutex> hold(lock_);
    return failure_;
}
