#include "common/progress_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/pseudo_terminal.h"

namespace {

TEST(ProgressText, TellsAmountsRateAndTimeLeftOnceKnown) {
    const ProgressPhase merging{"merging", 4'560'000'000, ""}, counting{"counting", std::nullopt, ""};
    const ProgressPhase blocks{"reading", 16'000'000, "blocks"}, tiny{"merging", 100, ""};
    struct Case {
        const ProgressPhase& phase;
        std::int64_t done;
        double seconds;
        std::string text;
    } const cases[] = {
        {merging, 1'230'000'000, 1.0, "p: merging 1.23 GB of 4.56 GB (26 %)"},
        {merging, 1'230'000'000, 8.1, "p: merging 1.23 GB of 4.56 GB (26 %), 152 MB/s, 0:22 left"},
        {merging, 0, 30.0, "p: merging 0 B of 4.56 GB (0 %)"},
        {counting, 999, 1.0, "p: counting 999 B"},
        {counting, 999'499, 1.0, "p: counting 999 kB"},
        {counting, 999'500, 1.0, "p: counting 1.00 MB"},
        {counting, 12'345'678, 4.0, "p: counting 12.3 MB, 3.09 MB/s"},
        {blocks, 1'234'567, 3.0, "p: reading 1.23M of 16.0M blocks (7 %), 412k blocks/s, 0:36 left"},
        {blocks, 9'999, 1.0, "p: reading 9999 of 16.0M blocks (0 %)"},
        {tiny, 150, 3.0, "p: merging 100 B of 100 B (100 %), 50 B/s"},
        {ProgressPhase{"merging", 0, ""}, 0, 3.0, "p: merging 0 B of 0 B"},
        {merging, 1'000'000, 3'600.0, "p: merging 1.00 MB of 4.56 GB (0 %), 278 B/s, 4559:00:00 left"},
    };
    for (const Case& c : cases) EXPECT_EQ(progressText("p", c.phase, c.done, c.seconds), c.text);
    EXPECT_EQ(progressDuration(3'725), "1:02:05");
    EXPECT_EQ(progressDuration(59.2), "1:00");
}

// The drawings "\r" TEXT "\x1b[K" of what was written, the final erasing
// one (empty) included.
std::vector<std::string> drawings(const std::string& seen) {
    std::vector<std::string> texts;
    for (std::size_t at = 0; at < seen.size();) {
        std::size_t end = seen.find("\x1b[K", at);
        if (seen[at] != '\r' || end == std::string::npos) {
            ADD_FAILURE() << "not a drawing at " << at << ": " << seen;
            break;
        }
        texts.push_back(seen.substr(at + 1, end - at - 1));
        at = end + 3;
    }
    return texts;
}

TEST(ProgressLine, DrawsInPlaceWithinTheWidthAndErasesItself) {
    PseudoTerminal terminal(40);
    {
        ProgressLine line("p", terminal.terminal());
        ASSERT_TRUE(line.active());
        line.startPhase("merging", 1000);
        EXPECT_TRUE(terminal.waitFor("\rp: merging 0 B of 1.00 kB (0 %)\x1b[K")) << "drawn at once";
        line.add(400);
        line.add(100);
        EXPECT_TRUE(terminal.waitFor("\rp: merging 500 B of 1.00 kB (50 %)\x1b[K")) << "and redrawn";
        line.startPhase("writing every last byte of it", std::nullopt, "entries");
        line.set(12);
        EXPECT_TRUE(terminal.waitFor("\rp: writing every last byte of it 12 ent\x1b[K")) << "39 columns";
    }
    terminal.closeTerminal();
    std::vector<std::string> texts = drawings(terminal.readUntilClosed());
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(texts.back(), "") << "erased at the end";
    for (const std::string& text : texts) EXPECT_LE(text.size(), 39u) << text;
}

TEST(ProgressLine, WritesNothingWhereNoTerminalIs) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    {
        ProgressLine line("p", ends[1]);
        EXPECT_FALSE(line.active());
        line.startPhase("merging", 10);
        line.add(5);
    }
    close(ends[1]);
    char byte;
    EXPECT_EQ(read(ends[0], &byte, 1), 0);
    close(ends[0]);
}

}  // namespace
