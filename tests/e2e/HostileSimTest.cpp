// The kernel simulator, as a real process, against peers that send garbage, cut frames short, send
// frames beyond the bound, hold half a frame, or sit idle at the connection cap.
#include "tests/common/RawSocket.h"
#include "tests/common/TimeScale.h"
#include "tests/e2e/SimProcess.h"
#include "vmsg/Peer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

using namespace std::chrono;

class HostileSimTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        base = freePortBase(1);
        ASSERT_NE(base, 0);
        sim = std::make_unique<SimProcess>(base, QStringList{"--state", "running"});
        ASSERT_TRUE(sim->waitUntilListening()) << sim->log().toStdString();
    }

    // A client of the library that asks for the status: the simulator still serves.
    bool served(vmsg::Peer& peer, int handle)
    {
        sim->log(); // keeps its standard error flowing
        const std::unique_ptr<vmsg::Message> status = peer.request(handle, 32, vmsg::Message(), scaled(seconds(5)));
        return status && status->checkTemplate("rviv");
    }

    static std::vector<std::uint8_t> header(std::uint32_t length)
    {
        std::vector<std::uint8_t> bytes = RawSocket::frame(vmsg::FrameType::Data, 32);
        bytes[4] = std::uint8_t(length >> 24);
        bytes[5] = std::uint8_t(length >> 16);
        bytes[6] = std::uint8_t(length >> 8);
        bytes[7] = std::uint8_t(length);
        return bytes;
    }

    int base = 0;
    std::unique_ptr<SimProcess> sim;
};

} // namespace

TEST_F(HostileSimTest, GarbageCutAndOversizedFramesCloseOnlyTheirConnection)
{
    vmsg::Peer good;
    const int handle = good.connect("127.0.0.1", base, scaled(seconds(5)));
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(served(good, handle));

    vmsg::Message badTag;
    badTag.push(1);
    std::vector<std::uint8_t> malformed = RawSocket::frame(vmsg::FrameType::Data, 50, badTag);
    malformed[vmsg::frameHeaderSize] = 'x';
    std::vector<std::uint8_t> valuesBeyond = RawSocket::frame(vmsg::FrameType::Data, 50, badTag);
    valuesBeyond.push_back('s'); // a string whose count lies beyond the frame
    valuesBeyond.insert(valuesBeyond.end(), {0x7f, 0xff, 0xff, 0xff});
    valuesBeyond[7] = std::uint8_t(valuesBeyond.size());
    const std::vector<std::uint8_t> data = RawSocket::frame(vmsg::FrameType::Data, 32);

    struct Case
    {
        const char* what;
        bool logOn;
        std::vector<std::uint8_t> bytes;
        bool cutOff; // the peer ends its sending in the middle
    };
    const std::string http = "GET / HTTP/1.0\r\n\r\n";
    std::vector<Case> cases = {
        {"garbage instead of a LogOn", false, {http.begin(), http.end()}, false},
        {"garbage after log-on", true, {0x00, 0xff, 0x56, 0x4d, 0x02, 0x03, 0x00}, false},
        {"a length of 2 GiB", true, header(0x7fffffff), false},
        {"a length beyond the bound", true, header(262145), false},
        {"a length below the header", true, header(23), false},
        {"an unknown tag", true, malformed, false},
        {"a string beyond its frame", true, valuesBeyond, false},
        {"a second LogOn", true, RawSocket::frame(vmsg::FrameType::LogOn, 1), false},
        {"a frame cut off by the end of the connection", true, {data.begin(), data.begin() + 20}, true},
        {"a LogOn cut off", false, {data.begin(), data.begin() + 10}, true},
    };
    for (const Case& c : cases) {
        RawSocket raw;
        ASSERT_TRUE(raw.connect(base)) << c.what;
        if (c.logOn) {
            ASSERT_TRUE(raw.logOn(vmsg::Message(), scaled(seconds(5)))) << c.what;
        }
        ASSERT_TRUE(raw.send(c.bytes)) << c.what;
        if (c.cutOff)
            raw.shutdownSending();
        EXPECT_TRUE(raw.closedWithin(scaled(seconds(5)))) << c.what;
        EXPECT_TRUE(served(good, handle)) << "after " << c.what;
    }

    vmsg::Peer later;
    const int laterHandle = later.connect("127.0.0.1", base, scaled(seconds(5)));
    ASSERT_GT(laterHandle, 0);
    EXPECT_TRUE(served(later, laterHandle));
}

TEST_F(HostileSimTest, IdleClientsAtTheCapAndAHalfFrameKeepNobodyOutForLong)
{
    // The cap is the simulator's: all of it is needed, sanitized or not.
    constexpr int cap = 256;
    std::vector<std::unique_ptr<RawSocket>> idle;
    for (int i = 0; i < cap; ++i) {
        idle.push_back(std::make_unique<RawSocket>());
        ASSERT_TRUE(idle.back()->connect(base)) << i;
        ASSERT_TRUE(idle.back()->logOn(vmsg::Message(), scaled(seconds(5)))) << i;
        if (i % 32 == 0)
            sim->log();
    }
    RawSocket& holder = *idle.front();
    const std::vector<std::uint8_t> data = RawSocket::frame(vmsg::FrameType::Data, 32);
    ASSERT_TRUE(holder.send(data.data(), data.size() / 2));
    const auto start = steady_clock::now();

    // Full, and nobody idle long enough: a newcomer is turned away at once, well within the
    // handshake deadline (5 s), and never answered.
    {
        RawSocket early;
        ASSERT_TRUE(early.connect(base));
        early.send(RawSocket::frame(vmsg::FrameType::LogOn, 1)); // fails once the simulator has closed it
        std::size_t answered = 0;
        EXPECT_TRUE(early.closedWithin(scaled(milliseconds(1000)), &answered));
        EXPECT_EQ(answered, 0u);
    }

    // The half frame is given 10 s; its connection goes and frees a slot.
    EXPECT_TRUE(holder.closedWithin(seconds(10) + scaled(seconds(5))));
    const auto held = steady_clock::now() - start;
    std::printf("half frame closed after %lld ms\n", static_cast<long long>(duration_cast<milliseconds>(held).count()));
    EXPECT_GE(held, milliseconds(9500));
    EXPECT_LE(held, seconds(10) + scaled(seconds(3)));
    vmsg::Peer first;
    const int firstHandle = first.connect("127.0.0.1", base, scaled(seconds(5)));
    ASSERT_GT(firstHandle, 0);
    EXPECT_TRUE(served(first, firstHandle));

    // Full again, of clients idle for more than 10 s: the longest idle makes room.
    vmsg::Peer second;
    const int secondHandle = second.connect("127.0.0.1", base, scaled(seconds(5)));
    ASSERT_GT(secondHandle, 0);
    EXPECT_TRUE(served(second, secondHandle));
    EXPECT_TRUE(idle[1]->closedWithin(scaled(seconds(5)))) << "the longest idle is the oldest";
    EXPECT_TRUE(served(first, firstHandle));
}
