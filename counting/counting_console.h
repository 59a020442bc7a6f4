// What a count tells while it runs: tallomer's console (the input's size, a
// line as each chunk starts, the progress dots) and the bytes of the input
// counted so far, for a progress line. Each says nothing here: a program
// takes what it shows. Calls are const, so a console made on the spot can
// be passed.
#pragma once

#include <cstdint>
#include <ostream>

class CountingConsole {
public:
    virtual ~CountingConsole() = default;
    // On the thread that counts, in the order the console prints them.
    virtual void fileSize(std::int64_t) const {}
    virtual void chunkStarts(std::int64_t /*k, from 0*/, std::int64_t /*chunks*/) const {}
    virtual void dots(std::int64_t /*how many*/) const {}
    // `bytes` more of the input counted: from any thread, often (about every
    // CountedStep bytes); must not throw. Every byte is told exactly once.
    virtual void counted(std::int64_t /*bytes*/) const {}
};

// How often the scanners tell the bytes they counted: often enough that a
// progress line moves every few milliseconds, seldom enough to cost nothing.
inline constexpr std::int64_t CountedStep = std::int64_t{1} << 20;

// "Filesize: " line: the size in MB in the stream's default six digits.
void printFileSize(std::ostream& console, std::int64_t bytes);

// tallomer's console: the size, the chunk lines and the dots, printed.
class PrintedConsole final : public CountingConsole {
public:
    explicit PrintedConsole(std::ostream& out) : out_(out) {}
    void fileSize(std::int64_t bytes) const override { printFileSize(out_, bytes); }
    void chunkStarts(std::int64_t k, std::int64_t chunks) const override {
        out_ << std::endl << "Loading chunk into memory " << k + 1 << "/" << chunks << std::endl;
    }
    void dots(std::int64_t count) const override {
        for (std::int64_t i = 0; i < count; ++i) out_ << '.';
    }

private:
    std::ostream& out_;
};

// Tells the console of the positions a scan has passed, in steps of
// CountedStep, from the thread that scans.
class PositionsCounted {
public:
    PositionsCounted(const CountingConsole& console, std::int64_t from)
        : console_(console), told_(from), next_(from + CountedStep) {}
    void reached(std::int64_t p) {
        if (p < next_) return;
        console_.counted(p - told_);
        told_ = p;
        next_ = p + CountedStep;
    }

private:
    const CountingConsole& console_;
    std::int64_t told_, next_;
};
