// A pseudo-terminal for tests of what a program draws on a terminal: its
// terminal side is what the program writes to, and the test reads the
// bytes from the other side as they were written (raw: no line-end
// translation, no echo).
#pragma once

#include <chrono>
#include <string>
#include <string_view>

class PseudoTerminal {
public:
    explicit PseudoTerminal(int columns = 80);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // The terminal side; -1 once closed here.
    int terminal() const { return terminal_; }
    // Closes the terminal side here (a child keeps its own copy).
    void closeTerminal();

    // Reads until what was written holds `text`, at most `wait`; whether
    // it does.
    bool waitFor(std::string_view text, std::chrono::milliseconds wait = std::chrono::seconds(20));
    // Everything written to the terminal, read until no process has it
    // open any more; call after closeTerminal().
    std::string readUntilClosed();

private:
    // Reads what comes within `wait`; false once the terminal is closed
    // everywhere.
    bool readSome(std::chrono::milliseconds wait);

    int controller_ = -1, terminal_ = -1;
    std::string seen_;
};
