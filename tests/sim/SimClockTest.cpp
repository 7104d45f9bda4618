#include "sim/kernel/SimClock.h"
#include "sim/kernel/SimOptions.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(SimClock, RunsOnlyWhileRunningAndStandsAtZeroWithoutAModel)
{
    SimClock clock(3.0, false);
    EXPECT_EQ(clock.state(), KernelState::NoModel);
    EXPECT_FALSE(clock.run());
    EXPECT_EQ(clock.advance(5.0), 0.0);
    EXPECT_EQ(clock.time(), 0.0);

    EXPECT_TRUE(clock.load(1e9));
    EXPECT_FALSE(clock.load(1e9));
    EXPECT_EQ(clock.state(), KernelState::Paused);
    EXPECT_EQ(clock.advance(5.0), 0.0);
    EXPECT_TRUE(clock.run());
    EXPECT_FALSE(clock.run());
    EXPECT_EQ(clock.advance(2.0), 6.0);
    EXPECT_EQ(clock.advance(-1.0), 0.0);
    EXPECT_EQ(clock.time(), 6.0);
    EXPECT_TRUE(clock.freeze());
    EXPECT_FALSE(clock.freeze());
    clock.advance(10.0);
    EXPECT_EQ(clock.time(), 6.0);

    EXPECT_TRUE(clock.unload());
    EXPECT_EQ(clock.state(), KernelState::NoModel);
    EXPECT_EQ(clock.time(), 0.0);
    EXPECT_FALSE(clock.unload());
}

TEST(SimClock, CalendarModeStartsAtTheWallClock)
{
    SimClock clock(1.0, true);
    clock.load(1700000000.75);
    EXPECT_EQ(clock.time(), 1700000000.0);
    clock.run();
    clock.advance(1.5);
    EXPECT_EQ(clock.time(), 1700000001.5);
}

TEST(SimOptions, ParsesEveryOptionInBothForms)
{
    std::string error;
    const auto options = parseSimOptions({"--instance", "3", "--listen=0.0.0.0", "--state", "paused", "--calendar",
                                          "--speed=2.5", "--status-layout", "long", "--blocks", "20000", "--tags=50"},
                                         error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->instance, 3);
    EXPECT_EQ(options->listenAddress, "0.0.0.0");
    EXPECT_EQ(options->state, KernelState::Paused);
    EXPECT_TRUE(options->calendar);
    EXPECT_EQ(options->speed, 2.5);
    EXPECT_TRUE(options->longStatus);
    EXPECT_EQ(options->blocks, 20000);
    EXPECT_EQ(options->tags, 50);

    const auto defaults = parseSimOptions({}, error);
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->instance, 0);
    EXPECT_EQ(defaults->listenAddress, "127.0.0.1");
    EXPECT_EQ(defaults->state, KernelState::Running);
    EXPECT_FALSE(defaults->longStatus);
    EXPECT_EQ(defaults->blocks, 0);
    EXPECT_EQ(defaults->tags, 0);
}

TEST(SimOptions, RefusesBadInput)
{
    ::setenv("NORVEX_PORT_BASE", "65000", 1);
    const std::vector<std::vector<std::string>> bad = {
        {"--instance"},         {"--instance", "x"},
        {"--instance", "1000"}, {"--instance", "-65000"},
        {"--state", "stopped"}, {"--speed", "0"},
        {"--speed", "-1"},      {"--speed", "nan"},
        {"--speed", "2x"},      {"--status-layout", "mid"},
        {"--calendar=yes"},     {"--verbose"},
        {"--listen="},          {"instance"},
        {"--blocks", "20001"},  {"--blocks", "-1"},
        {"--blocks"},           {"--tags", "101"},
        {"--tags", "ten"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(parseSimOptions(args, error)) << args.front();
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    EXPECT_TRUE(parseSimOptions({"--instance", "535"}, error));
    ::unsetenv("NORVEX_PORT_BASE");
}
