#include "common/progress_line.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <new>
#include <system_error>
#include <utility>

namespace {

// Columns of the terminal, asked at every drawing so that a resized window
// is followed; 80 when it does not say.
std::size_t terminalWidth(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

constexpr const char* EraseToEnd = "\x1b[K";

// What the program tells of a failure may still read errno.
struct ErrnoKept {
    int saved = errno;
    ~ErrnoKept() { errno = saved; }
};

}  // namespace

ProgressLine::ProgressLine(std::string program, int fd) : program_(std::move(program)), fd_(fd) {
    if (isatty(fd) != 1) return;
    active_ = true;
    try {
        drawer_ = std::thread([this] { drawEvery(); });
    } catch (const std::system_error&) {
        // No thread to be had: the work goes on without its line.
        active_ = false;
    }
}

ProgressLine::~ProgressLine() { finish(); }

void ProgressLine::startPhase(std::string name, std::optional<std::int64_t> total, std::string countOf) {
    if (!active_) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (stopping_) return;
        phase_ = {std::move(name), total, std::move(countOf)};
        start_ = Clock::now();
        done_.store(0, std::memory_order_relaxed);
        hasPhase_ = true;
    }
    draw();
}

void ProgressLine::finish() {
    if (!drawer_.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    wake_.notify_one();
    drawer_.join();
    ErrnoKept kept;
    std::lock_guard<std::mutex> hold(drawing_);
    if (drawn_) write(std::string("\r") + EraseToEnd);
}

void ProgressLine::drawEvery() {
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(lock_);
            if (wake_.wait_for(hold, Interval, [this] { return stopping_; })) return;
        }
        draw();
    }
}

void ProgressLine::draw() {
    ErrnoKept kept;
    // Held from the look at the phase on, so that no older phase is drawn
    // over a newer one.
    std::lock_guard<std::mutex> drawing(drawing_);
    try {
        ProgressPhase phase;
        Clock::time_point start;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!hasPhase_) return;
            phase = phase_;
            start = start_;
        }
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::string text = progressText(program_, phase, done_.load(std::memory_order_relaxed), seconds);
        // One column short of the width: a line that fills the last one
        // wraps on some terminals.
        std::size_t width = terminalWidth(fd_) - 1;
        if (text.size() > width) text.resize(width);
        if (write("\r" + text + EraseToEnd)) drawn_ = true;
    } catch (const std::bad_alloc&) {
        // Not drawn this time: the line never fails the work.
    }
}

bool ProgressLine::write(const std::string& bytes) {
    if (broken_) return false;
    pid_t foreground = tcgetpgrp(fd_);
    if (foreground != -1 && foreground != getpgrp()) return false;
    for (std::size_t written = 0; written < bytes.size();) {
        ssize_t wrote = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            broken_ = true;
            break;
        }
        written += static_cast<std::size_t>(wrote);
    }
    return !broken_;
}
