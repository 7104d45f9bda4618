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

TEST_F(FlowTest, MessagesOfChangingShapesArriveIntact)
{
    // Received messages pass their storage on to later ones: every shape must still arrive as sent.
    vmsg::Peer runner(io);
    int own = 0;
    connectClient(runner, own);
    std::vector<vmsg::Message> sent(12);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        vmsg::Message& m = sent[i];
        switch (i % 4) {
        case 0:
            m.push(int(i));
            m.push(("a listing line long enough to need its own storage " + std::to_string(i)).c_str());
            break;
        case 1:
            m.push(std::vector<std::string>(i, "name"));
            break;
        case 2:
            m.push(std::string(700 + i, 'x').c_str());
            m.pushDivider();
            m.push(double(i));
            break;
        default:
            break;
        }
    }
    std::vector<std::vector<vmsg::Value>> got;
    desk.registerNonReply([&](int kind, vmsgMsgPort* m) {
        got.push_back(m->message().values);
        if (kind == 1 && got.size() % 3 == 0) {
            char* text = nullptr; // popped texts are the message's, reused by the next one
            m->pop(text, -99999, -1);
        }
    });
    constexpr int rounds = 50;
    for (int round = 0; round < rounds; ++round) {
        for (const vmsg::Message& m : sent)
            ASSERT_TRUE(runner.send(own, 1, m));
        ASSERT_TRUE(pump([&] { return got.size() == std::size_t(round + 1) * sent.size(); }));
    }
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], sent[i % sent.size()].values) << i;
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
