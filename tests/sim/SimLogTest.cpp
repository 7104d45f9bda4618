#include "sim/kernel/SimLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Captured
{
    std::vector<std::string> lines;
    bool full = false;
    SimLog::Sink sink()
    {
        return [this](const std::string& line) {
            if (full)
                return false;
            lines.push_back(line);
            return true;
        };
    }
};

} // namespace

TEST(SimLog, LinesBeyondTheRateAreCountedAndTheCountComesFirstOnceTheRateAllows)
{
    Captured out;
    SimLog log(out.sink(), SimLogRate{10, 5});
    const auto t0 = SimLog::Clock::now();
    for (int i = 0; i < 20; ++i)
        log.line(SimLog::Channel::Messages, "m" + std::to_string(i), t0);
    ASSERT_EQ(out.lines.size(), 5u);
    EXPECT_EQ(out.lines.front(), "norvexsim: m0\n");
    EXPECT_EQ(log.leftOut(), 15u);

    // The other channel has a budget of its own.
    log.line(SimLog::Channel::Clients, "client 1 logged on", t0);
    EXPECT_EQ(out.lines.back(), "norvexsim: client 1 logged on\n");

    // A tenth of a second later one line is allowed again: the count goes out before it.
    log.line(SimLog::Channel::Messages, "late", t0 + 100ms);
    ASSERT_EQ(out.lines.size(), 8u);
    EXPECT_EQ(out.lines[6], "norvexsim: ... 15 lines left out\n");
    EXPECT_EQ(out.lines[7], "norvexsim: late\n");

    // Without further lines, flush reports what is left out once the budget allows.
    for (int i = 0; i < 3; ++i)
        log.line(SimLog::Channel::Messages, "x", t0 + 100ms);
    log.flush(t0 + 100ms);
    EXPECT_EQ(out.lines.size(), 8u);
    log.flush(t0 + 300ms);
    EXPECT_EQ(out.lines.back(), "norvexsim: ... 3 lines left out\n");
}

TEST(SimLog, LinesTheOutputCannotTakeAreCountedWithTheNextLine)
{
    Captured out;
    SimLog log(out.sink(), SimLogRate{1000, 1000});
    const auto t0 = SimLog::Clock::now();
    out.full = true;
    log.line(SimLog::Channel::Messages, "a", t0);
    log.line(SimLog::Channel::Clients, "b", t0);
    log.notice("stopped");
    EXPECT_TRUE(out.lines.empty());
    EXPECT_EQ(log.leftOut(), 3u);
    out.full = false;
    log.line(SimLog::Channel::Clients, "c", t0);
    ASSERT_EQ(out.lines.size(), 2u);
    EXPECT_EQ(out.lines[0], "norvexsim: ... 3 lines left out\n");
    EXPECT_EQ(out.lines[1], "norvexsim: c\n");
}
