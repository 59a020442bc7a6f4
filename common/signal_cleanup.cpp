#include "common/signal_cleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace {

// A program has one output open at a time; a few slots spare leave room.
constexpr int Slots = 4;
char TemporaryPaths[Slots][PATH_MAX];
volatile std::sig_atomic_t SlotInUse[Slots];

constexpr int TerminatingSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeTemporaryFilesAndDie(int signal) {
    for (int slot = 0; slot < Slots; ++slot)
        if (SlotInUse[slot]) unlink(TemporaryPaths[slot]);
    // The signal stays blocked until the handler returns, and then the
    // default action ends the program.
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void installCleanup(int signal) {
    struct sigaction previous;
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = removeTemporaryFilesAndDie;
    // A second signal during the cleanup waits: it would end the program
    // before every file is gone.
    sigemptyset(&action.sa_mask);
    for (int other : TerminatingSignals) sigaddset(&action.sa_mask, other);
    sigaction(signal, &action, nullptr);
}

}  // namespace

void cleanUpTemporaryFilesOnSignals() {
    for (int signal : TerminatingSignals) installCleanup(signal);
    failWritesInsteadOfDying();
}

void failWritesInsteadOfDying() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

int rememberTemporaryFile(const char* path) {
    std::size_t length = std::strlen(path);
    if (length >= PATH_MAX) return -1;
    for (int slot = 0; slot < Slots; ++slot) {
        if (SlotInUse[slot]) continue;
        std::memcpy(TemporaryPaths[slot], path, length + 1);
        // The handler must never see the flag before the whole path.
        std::atomic_signal_fence(std::memory_order_seq_cst);
        SlotInUse[slot] = 1;
        return slot;
    }
    return -1;
}

void forgetTemporaryFile(int slot) {
    if (slot >= 0) SlotInUse[slot] = 0;
}
