#include "protocol/Address.h"
#include "vmsg/Peer.h"
#include "tests/common/TimeScale.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

using namespace std::chrono;

namespace {

class PeerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listen("127.0.0.1", 0));
        server.setConnectionHandler([this](int h, int e) { serverEvents.push_back({h, e}); });
        clientHandle = client.connect("127.0.0.1", server.localPort());
        ASSERT_GT(clientHandle, 0);
        ASSERT_TRUE(drive([this] { return !serverEvents.empty(); }));
        serverHandle = serverEvents[0].first;
    }

    bool drive(const std::function<bool()>& done)
    {
        const auto deadline = steady_clock::now() + scaled(seconds(20));
        while (!done() && steady_clock::now() < deadline) {
            if (server.poll() + client.poll() == 0)
                io.run_one_for(milliseconds(5));
        }
        return done();
    }

    static vmsg::Message one(int value)
    {
        vmsg::Message m;
        m.push(value);
        return m;
    }

    asio::io_context io;
    vmsg::Peer server{io};
    vmsg::Peer client{io};
    int clientHandle = 0;
    int serverHandle = 0;
    std::vector<std::pair<int, int>> serverEvents;
};

} // namespace

TEST_F(PeerTest, AHandlerMayAskBackOnTheSameConnection)
{
    client.setMessageHandler([this](vmsg::Message& m) {
        if (m.requestId) {
            client.reply(m, one(41));
            client.send(clientHandle, 3, one(0)); // arrives while the server's handler still waits
        }
    });
    std::vector<int> kinds;
    int answer = 0;
    bool inHandler = false;
    bool nested = false;
    server.setMessageHandler([&](vmsg::Message& m) {
        nested = nested || inHandler;
        inHandler = true;
        kinds.push_back(m.kind);
        if (m.kind == 1) {
            const std::unique_ptr<vmsg::Message> reply = server.request(m.handle, 2, one(0), seconds(20));
            ASSERT_NE(reply, nullptr);
            EXPECT_EQ(reply->kind, 2);
            reply->pop(answer);
        }
        inHandler = false;
    });
    client.send(clientHandle, 1, one(0));
    ASSERT_TRUE(drive([&] { return kinds.size() == 2; }));
    EXPECT_EQ(answer, 41);
    EXPECT_EQ(kinds, (std::vector<int>{1, 3}));
    EXPECT_FALSE(nested);
}

TEST_F(PeerTest, EventsAndMessagesKeepTheirOrder)
{
    std::vector<int> seen;
    server.setMessageHandler([&](vmsg::Message& m) { seen.push_back(m.kind); });
    server.setConnectionHandler([&](int, int e) { seen.push_back(-100 + e); });
    vmsg::Peer other(io);
    const int h = other.connect("127.0.0.1:" + std::to_string(server.localPort()));
    ASSERT_GT(h, 0);
    other.send(h, 505, one(1));
    other.send(h, 513, one(2));
    ASSERT_TRUE(other.flush(h, seconds(20)));
    other.close(h);
    ASSERT_TRUE(drive([&] { return seen.size() == 4; }));
    EXPECT_EQ(seen, (std::vector<int>{-100 + vmsg::eventLoggedOn, 505, 513, -100 + vmsg::eventClosed}));
}

TEST_F(PeerTest, RunTicksUntilStopped)
{
    int ticks = 0;
    const auto start = steady_clock::now();
    server.run(milliseconds(10), [&] {
        if (++ticks == 3)
            server.stop();
    });
    EXPECT_EQ(ticks, 3);
    EXPECT_GE(steady_clock::now() - start, milliseconds(30));
}

TEST_F(PeerTest, MisuseFailsQuietly)
{
    vmsg::Message unasked = one(1);
    unasked.handle = serverHandle;
    EXPECT_FALSE(server.reply(unasked, one(2)));
    EXPECT_FALSE(server.send(999, 1, one(1)));
    EXPECT_EQ(server.request(999, 1, one(1), seconds(5)), nullptr);
    EXPECT_EQ(client.connect("nonsense"), 0);
    EXPECT_EQ(client.connect("127.0.0.1:0"), 0);
    EXPECT_EQ(client.connect("127.0.0.1:99999"), 0);
    EXPECT_FALSE(server.listen("not an address", 0));

    // A request whose connection goes away ends early.
    client.setMessageHandler([this](vmsg::Message&) { client.close(clientHandle); });
    const auto start = steady_clock::now();
    EXPECT_EQ(server.request(serverHandle, 10, one(1), seconds(60)), nullptr);
    EXPECT_LT(steady_clock::now() - start, scaled(seconds(30)));
}

TEST(Address, KernelPortIsBasePlusInstance)
{
    ::setenv("NORVEX_PORT_BASE", "50000", 1);
    EXPECT_EQ(protocol::kernelPortBase(), 50000);
    EXPECT_EQ(protocol::kernelPort(12), 50012);
    EXPECT_EQ(protocol::kernelPort(15536), 0);
    EXPECT_EQ(protocol::kernelPort(-50000), 0);
    ::setenv("NORVEX_PORT_BASE", "5x", 1);
    EXPECT_EQ(protocol::kernelPortBase(), protocol::defaultPortBase);
    ::unsetenv("NORVEX_PORT_BASE");
    EXPECT_EQ(protocol::kernelPort(0), protocol::defaultPortBase);
}

TEST(Address, SplitsHostAndPort)
{
    std::string host;
    int port = 0;
    ASSERT_TRUE(protocol::splitHostPort("127.0.0.1:47100", host, port));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 47100);
    ASSERT_TRUE(protocol::splitHostPort("[::1]:8", host, port));
    EXPECT_EQ(host, "::1");
    EXPECT_FALSE(protocol::splitHostPort(":80", host, port));
    EXPECT_FALSE(protocol::splitHostPort("host:", host, port));
    EXPECT_FALSE(protocol::splitHostPort("host:65536", host, port));
    EXPECT_FALSE(protocol::splitHostPort("host:+80", host, port));
}
