// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Outside programs run fenced: a table of runs (input larger than any pipe
// echoed whole, an exit status with its last words, a deadline, an output
// limit, a program that is not there), and two streams read in turns, each
// one's output taken in while the other is read, no further than its room.
#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

namespace folio {
namespace {

using Clock = std::chrono::steady_clock;

// Lines "<name> <n>" from `count` down to 1, or up from 1 to `count`.
std::string Lines(const char* name, int count, bool down) {
    std::string s;
    for (int i = 1; i <= count; ++i)
        s += std::string(name) + " " + std::to_string(down ? count + 1 - i : i) + "\n";
    return s;
}

TEST(RunTool, EachRunEndsAsItShould) {
    const std::string big = Lines("line", 300000, false); // over 3 MB
    struct Case {
        const char* what;
        std::vector<std::string> argv;
        const std::string* input;
        int deadlineMs;
        std::size_t maxOutput;
        int status;
        bool timedOut, tooMuch, notFound;
        std::string output, errors;
    };
    const std::vector<Case> cases = {
        {"input larger than a pipe, echoed", {"cat"}, &big, 20000, big.size(), 0, false, false,
         false, big, ""},
        {"a status and its reason", {"sh", "-c", "echo partial; echo no such page >&2; exit 3"},
         nullptr, 20000, 1 << 20, 3, false, false, false, "partial\n", "no such page\n"},
        {"stopped at its deadline", {"sh", "-c", "exec sleep 30"}, nullptr, 200, 1 << 20, -1,
         true, false, false, "", ""},
        {"more output than allowed", {"yes"}, nullptr, 20000, 100000, -1, false, true, false, "",
         ""},
        {"not installed", {"folioset-no-such-program"}, nullptr, 20000, 1 << 20, -1, false, false,
         true, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ToolLimits limits;
        limits.deadline = Clock::now() + std::chrono::milliseconds(c.deadlineMs);
        limits.maxOutput = c.maxOutput;
        ToolResult r;
        std::string error;
        const Clock::time_point start = Clock::now();
        ASSERT_TRUE(RunTool(c.argv, c.input ? *c.input : std::string(), limits, r, error))
            << error;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.timedOut, c.timedOut);
        EXPECT_EQ(r.tooMuchOutput, c.tooMuch);
        EXPECT_EQ(r.notFound, c.notFound);
        if (!c.tooMuch) {
            EXPECT_TRUE(r.output == c.output) << r.output.size() << " bytes";
        }
        EXPECT_EQ(r.errors, c.errors);
    }
}

// Two renderers taking turns, as the PDF pages of a document come: each
// reads all its input before it writes (as pdftoppm does; awk here turns
// the lines round, in memory, for a tool writes no files), and is read in
// pieces while the other is taken in up to its room.
TEST(ToolProcess, StreamsReadInTurnsGiveTheirOutputWholeAndInOrder) {
    const int lines = 250000; // about 3 MB each
    const std::string a = Lines("first", lines, false), b = Lines("second", lines, false);
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    ToolProcess first, second;
    std::string error;
    const std::vector<std::string> reverse = {
        "awk", "{ line[NR] = $0 } END { for (i = NR; i > 0; i--) print line[i] }"};
    ASSERT_TRUE(first.Start(reverse, a, {}, error)) << error;
    ASSERT_TRUE(second.Start(reverse, b, {}, error)) << error;
    const std::size_t room = 1 << 20;
    for (ToolProcess* t : {&first, &second}) {
        t->ReadAlongside({&first, &second}, room);
        t->SendInput(deadline);
    }
    std::string gotA, gotB;
    const std::size_t sizeA = a.size(), sizeB = b.size();
    const std::size_t piece = 300000;
    while (gotA.size() < sizeA || gotB.size() < sizeB) {
        for (auto [tool, got, other] : {std::tuple{&first, &gotA, &second},
                                        std::tuple{&second, &gotB, &first}}) {
            std::string part(piece, '\0');
            part.resize(tool->Read(part.data(), piece, deadline));
            ASSERT_TRUE(!part.empty() || got->size() == (tool == &first ? sizeA : sizeB));
            *got += part;
            // The one read alongside holds no more than its room and the
            // one large read that may pass it.
            ASSERT_LE(other->Buffered().size(), room + (std::size_t(1) << 20));
        }
    }
    EXPECT_TRUE(gotA == Lines("first", lines, true));
    EXPECT_TRUE(gotB == Lines("second", lines, true));
    EXPECT_EQ(first.Finish(deadline), 0);
    EXPECT_EQ(second.Finish(deadline), 0);
}

} // namespace
} // namespace folio
