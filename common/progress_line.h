// How far long work has come, on one line of a terminal that is redrawn in
// place while the work runs and erased at its end, so that what the program
// prints after it (standard output, or a failure on standard error) starts
// on a clean line. Only when the descriptor is a terminal: in a pipe, a file
// or a log the program writes not one byte more, and the line costs no
// thread.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/progress_text.h"

class ProgressLine {
public:
    // Between two drawings of the line.
    static constexpr std::chrono::milliseconds Interval{300};

    // Draws on `fd` when it is a terminal, as "PROGRAM: ...".
    explicit ProgressLine(std::string program, int fd = STDERR_FILENO);
    // finish().
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Whether the line is drawn at all.
    bool active() const { return active_; }

    // A new phase, with nothing done yet, drawn at once (on the caller's
    // thread, so that every phase shows, however short); `total` and
    // `countOf` as ProgressPhase's (no countOf: bytes).
    void startPhase(std::string name, std::optional<std::int64_t> total, std::string countOf = {});
    // What is done of the phase: from any thread, at any time.
    void add(std::int64_t amount) {
        if (active_) done_.fetch_add(amount, std::memory_order_relaxed);
    }
    void set(std::int64_t amount) {
        if (active_) done_.store(amount, std::memory_order_relaxed);
    }

    // Stops the drawing and erases the line. Once is enough: later calls,
    // and the destructor's, do nothing.
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    void drawEvery();
    void draw();
    // Writes to the terminal unless another process group has it (a job
    // in the background). False once a write fails: no more are tried.
    bool write(const std::string& bytes);

    std::string program_;
    int fd_;
    bool active_ = false;
    std::atomic<std::int64_t> done_{0};

    std::mutex lock_;  // the phase and the drawing thread's stop
    std::condition_variable wake_;
    ProgressPhase phase_;
    Clock::time_point start_;
    bool hasPhase_ = false, stopping_ = false;
    std::thread drawer_;

    std::mutex drawing_;  // one drawing at a time, and these
    bool drawn_ = false, broken_ = false;
};
