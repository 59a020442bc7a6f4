#include "tests/support/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

PseudoTerminal::PseudoTerminal(int columns) {
    controller_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (controller_ < 0 || grantpt(controller_) != 0 || unlockpt(controller_) != 0 ||
        ptsname_r(controller_, name, sizeof name) != 0)
        throw std::runtime_error("no pseudo-terminal");
    terminal_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (terminal_ < 0 || tcgetattr(terminal_, &mode) != 0) throw std::runtime_error("no pseudo-terminal");
    cfmakeraw(&mode);
    winsize size{};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = 24;
    if (tcsetattr(terminal_, TCSANOW, &mode) != 0 || ioctl(controller_, TIOCSWINSZ, &size) != 0)
        throw std::runtime_error("cannot set up the pseudo-terminal");
}

PseudoTerminal::~PseudoTerminal() {
    closeTerminal();
    if (controller_ >= 0) close(controller_);
}

void PseudoTerminal::closeTerminal() {
    if (terminal_ >= 0) close(terminal_);
    terminal_ = -1;
}

bool PseudoTerminal::readSome(std::chrono::milliseconds wait) {
    pollfd ready{controller_, POLLIN, 0};
    int polled = poll(&ready, 1, static_cast<int>(wait.count()));
    if (polled < 0 && errno == EINTR) return true;
    if (polled <= 0) return polled == 0;
    char buffer[4096];
    ssize_t got = read(controller_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) return true;
    // EIO: the last descriptor of the terminal side is closed.
    if (got <= 0) return false;
    seen_.append(buffer, static_cast<std::size_t>(got));
    return true;
}

bool PseudoTerminal::waitFor(std::string_view text, std::chrono::milliseconds wait) {
    auto until = std::chrono::steady_clock::now() + wait;
    while (seen_.find(text) == std::string::npos) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readSome(left)) return false;
    }
    return true;
}

std::string PseudoTerminal::readUntilClosed() {
    auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < until && readSome(std::chrono::seconds(1))) {
    }
    return seen_;
}
