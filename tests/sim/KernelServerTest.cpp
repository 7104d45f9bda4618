#include "sim/kernel/KernelServer.h"
#include "tests/common/TimeScale.h"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using vmsg::Divider;
using Values = std::vector<vmsg::Value>;

// Server and clients on one io_context, driven from the test's thread.
class KernelServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SimOptions options;
        options.state = KernelState::Paused;
        service = std::make_unique<KernelService>(options, vmsg::wallClockNow());
        server = std::make_unique<KernelServer>(*service, log, io);
        ASSERT_TRUE(server->listen("127.0.0.1", 0));
        client.setMessageHandler([this](vmsg::Message& m) { unasked.push_back(std::move(m)); });
        handle = client.connect("127.0.0.1", server->localPort(), scaled(5s));
        ASSERT_GT(handle, 0);
        ASSERT_TRUE(runUntil([this] { return server->clients().size() == 1; }));
    }

    bool runUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + scaled(20s);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            io.run_one_for(5ms);
        return done();
    }

    std::unique_ptr<vmsg::Message> ask(int kind, Values values = {})
    {
        vmsg::Message m;
        m.values = std::move(values);
        return client.request(handle, kind, m, 20s);
    }

    // The last unasked status the client received, once it shows state.
    bool statusArrives(int state)
    {
        return runUntil([&] {
            return !unasked.empty() && unasked.back().kind == 32 &&
                   unasked.back().values.at(2) == vmsg::Value(std::int32_t(state));
        });
    }

    asio::io_context io;
    std::ostringstream log;
    std::unique_ptr<KernelService> service;
    std::unique_ptr<KernelServer> server;
    vmsg::Peer client{io};
    int handle = 0;
    std::vector<vmsg::Message> unasked;
};

} // namespace

TEST_F(KernelServerTest, AnswersRequestsAndLogsThemOneLineEach)
{
    std::unique_ptr<vmsg::Message> reply = ask(32);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->values, (Values{0.0, Divider{}, 2, Divider{}}));

    reply = ask(64, {std::string("$top<x>@name(T*)@type(*)@tagname(*)@tagvalue(*)@B_n_lst"), -1});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->values, (Values{std::vector<std::string>{"T101", "T201"}}));

    reply = ask(99, {std::string("what")});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->values, (Values{KernelError::UnknownKind, std::string("unknown kind")}));

    const std::string text = log.str();
    EXPECT_NE(text.find("norvexsim: client " + std::to_string(*server->clients().begin()) + " logged on\n"),
              std::string::npos);
    EXPECT_NE(text.find("request kind 32 from "), std::string::npos);
    EXPECT_NE(text.find("\"$top<x>@name(T*)"), std::string::npos);
    EXPECT_NE(text.find("error -1 (unknown kind)"), std::string::npos);
    for (std::size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
        EXPECT_EQ(text.compare(begin, 11, "norvexsim: "), 0);
}

TEST_F(KernelServerTest, SendsTheStatusOnEveryChangeAndEverySimulatedSecond)
{
    std::unique_ptr<vmsg::Message> reply = ask(40);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->values, (Values{0.0, Divider{}, 1, Divider{}}));
    ASSERT_TRUE(statusArrives(1));

    unasked.clear();
    server->tick(0.4);
    server->tick(0.4);
    EXPECT_TRUE(unasked.empty());
    server->tick(0.4);
    ASSERT_TRUE(runUntil([this] { return !unasked.empty(); }));
    EXPECT_EQ(unasked.back().kind, 32);
    EXPECT_NEAR(std::get<double>(unasked.back().values.at(0)), 1.2, 1e-9);

    // An unasked control message acts as well, without a reply.
    vmsg::Message freeze;
    ASSERT_TRUE(client.send(handle, 41, freeze));
    ASSERT_TRUE(statusArrives(2));
    server->control(40);
    ASSERT_TRUE(statusArrives(1));
}

TEST_F(KernelServerTest, AClientLeavingMidRequestChangesNothingForOthers)
{
    // The leaver runs on its own io_context, so that the server cannot answer while it waits.
    asio::io_context leaverIo;
    vmsg::Peer leaver(leaverIo);
    int gone = 0;
    std::thread connecting([&] { gone = leaver.connect("127.0.0.1", server->localPort(), 20s); });
    const bool accepted = runUntil([this] { return server->clients().size() == 2; });
    connecting.join();
    ASSERT_TRUE(accepted);
    ASSERT_GT(gone, 0);
    vmsg::Message values;
    values.push("FV101:POS");
    values.pushDivider();
    values.push(10.0);
    EXPECT_FALSE(leaver.request(gone, 51, values, 50ms));
    leaver.close(gone);
    ASSERT_TRUE(runUntil([this] { return server->clients().size() == 1; }));
    EXPECT_NE(log.str().find("request kind 51 from "), std::string::npos);

    std::unique_ptr<vmsg::Message> reply = ask(50, {std::string("FV101:POS")});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->values, (Values{0, 1, 10.0}));
    ASSERT_TRUE(ask(40));
    ASSERT_TRUE(statusArrives(1));
    EXPECT_NE(log.str().find(" left\n"), std::string::npos);
}
