#include "runs/ordered_output.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>

#include "common/parallel.h"

namespace {

// Thrown in a thread whose work another thread's failure made pointless.
struct Abandoned {};

// Whose turn it is to write, and the first failure.
class Turns {
public:
    bool isTurnOf(std::size_t range) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failure_) throw Abandoned{};
        return turn_ == range;
    }
    void waitFor(std::size_t range) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return turn_ == range || failure_; });
        if (failure_) throw Abandoned{};
    }
    void pass(std::size_t range) {
        std::lock_guard<std::mutex> lock(mutex_);
        turn_ = range + 1;
        changed_.notify_all();
    }
    void fail(std::exception_ptr failure) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failure_) failure_ = failure;
        changed_.notify_all();
    }
    std::exception_ptr failure() {
        std::lock_guard<std::mutex> lock(mutex_);
        return failure_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t turn_ = 0;
    std::exception_ptr failure_;
};

}  // namespace

void writeRangesInOrder(OutputFile& file, std::size_t ranges, std::size_t threads, std::size_t aheadBytes,
                        const std::function<void(std::size_t range, OutputFile& out)>& produce) {
    Turns turns;
    std::atomic<std::size_t> nextRange{0};
    runInParallel(std::min(threads, ranges), [&](std::size_t) {
        std::string ahead;  // the range's bytes made before its turn
        try {
            for (std::size_t range; (range = nextRange.fetch_add(1)) < ranges;) {
                bool hasTurn = false;
                auto takeTurn = [&] {
                    hasTurn = true;
                    file.write(ahead);
                    ahead.clear();
                };
                OutputFile out([&](std::string_view bytes) {
                    if (!hasTurn && turns.isTurnOf(range)) takeTurn();
                    if (!hasTurn && ahead.size() + bytes.size() > aheadBytes) {
                        turns.waitFor(range);
                        takeTurn();
                    }
                    if (hasTurn) {
                        file.write(bytes);
                    } else {
                        if (ahead.capacity() < aheadBytes) ahead.reserve(aheadBytes);
                        ahead.append(bytes);
                    }
                });
                produce(range, out);
                out.close();
                if (!hasTurn) {
                    turns.waitFor(range);
                    takeTurn();
                }
                turns.pass(range);
            }
        } catch (const Abandoned&) {
        } catch (...) {
            turns.fail(std::current_exception());
        }
    });
    if (std::exception_ptr failure = turns.failure()) std::rethrow_exception(failure);
}
