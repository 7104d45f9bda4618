#include "PortFixture.h"

using namespace std::chrono;

namespace {

class FlowTest : public PortFixture
{
};

} // namespace

TEST_F(FlowTest, AFloodIsDeliveredInSlicesWithBoundedQueue)
{
    constexpr int total = 60000;
    vmsg::Peer runner(io);
    int own = 0;
    connectClient(runner, own);
    for (int i = 0; i < total; ++i) {
        vmsg::Message line;
        line.push(i);
        line.push("listing text");
        ASSERT_TRUE(runner.send(own, 506, line)) << i;
    }

    // Network work alone fills the queue up to the pause mark, then leaves the rest to TCP.
    while (io.poll() > 0) {
    }
    EXPECT_LE(desk.queued(), vmsg::Context::pauseMessages);

    int next = 0;
    bool inOrder = true;
    desk.registerNonReply([&](int, vmsgMsgPort* m) {
        int value = -1;
        inOrder = inOrder && m->pop(value, -99999) && value == next;
        ++next;
    });
    std::size_t largestQueue = 0;
    ASSERT_TRUE(pump([&] {
        largestQueue = std::max(largestQueue, desk.queued());
        return next == total;
    }));
    EXPECT_TRUE(inOrder);
    EXPECT_LE(largestQueue, vmsg::Context::pauseMessages);
}

TEST_F(FlowTest, ClosingAfterABurstStillSendsTheBurst)
{
    vmsg::Peer runner(io);
    int own = 0;
    const int handle = connectClient(runner, own);
    int sent = 0;
    const std::string text(8000, 'p');
    while (runner.queuedBytes(own) == 0 && sent < 20000) {
        vmsg::Message m;
        m.push(sent);
        m.push(text);
        ASSERT_TRUE(runner.send(own, 205, m));
        ++sent;
    }
    ASSERT_GT(runner.queuedBytes(own), 0u) << "the socket took everything";
    runner.close(own);

    ASSERT_TRUE(pump([&] { return notified.size() == 2; }));
    EXPECT_EQ(notified[1], (Notified{handle, vmsg::eventClosed, 5}));
    ASSERT_EQ(received.size(), std::size_t(sent));
    EXPECT_EQ(received.back().values[0], vmsg::Value(sent - 1));
}

TEST_F(FlowTest, ACallStopsAtItsBudget)
{
    vmsg::Peer runner(io);
    int own = 0;
    connectClient(runner, own);
    for (int i = 0; i < 20; ++i)
        runner.send(own, 205, values({i}));
    ASSERT_TRUE(runner.flush(own, seconds(10)));
    ASSERT_TRUE(runIo([this] { return desk.queued() == 20; }));

    std::vector<int> order;
    desk.registerNonReply([&](int, vmsgMsgPort* m) {
        int value = -1;
        m->pop(value, -99999);
        order.push_back(value);
        // A handler that works for a millisecond.
        const auto until = steady_clock::now() + milliseconds(1);
        while (steady_clock::now() < until) {
        }
    });
    int most = 0;
    while (order.size() < 20) {
        const int delivered = desk.scheduler(0);
        ASSERT_GT(delivered, 0);
        most = std::max(most, delivered);
    }
    const auto budget = duration_cast<milliseconds>(vmsg::Context::schedulerBudget).count();
    EXPECT_LE(most, budget);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(order[i], i);
}

TEST_F(FlowTest, AReplyBehindABacklogStillArrives)
{
    const int kernelHandle = logOnKernel();
    constexpr int backlog = 3 * int(vmsg::Context::pauseMessages);
    onKernelMessage = [&](vmsg::Message& m) {
        for (int i = 0; i < backlog; ++i)
            kernel.send(kernelClient, 32, values({i}));
        kernel.reply(m, values({-1}));
    };
    vmsgMsgPort port(desk);
    vmsgMsgPort* reply = vmsgRequestBlock(port, kernelHandle, 64, "   ", 100, nullptr);
    ASSERT_NE(reply, nullptr);
    EXPECT_TRUE(reply->check_template("i"));
    EXPECT_EQ(desk.queued(), std::size_t(backlog));

    ASSERT_TRUE(pump([&] { return received.size() == std::size_t(backlog); }));
    EXPECT_EQ(received.front().values, (std::vector<vmsg::Value>{0}));
    EXPECT_EQ(received.back().values, (std::vector<vmsg::Value>{backlog - 1}));
}
