#include "PortFixture.h"

#include <cmath>

using namespace std::chrono;
using vmsg::Value;

namespace {

class PortTest : public PortFixture
{
};

steady_clock::duration timed(const std::function<void()>& f)
{
    const auto start = steady_clock::now();
    f();
    return steady_clock::now() - start;
}

} // namespace

TEST_F(PortTest, RequestGetsItsReply)
{
    const int kernelHandle = logOnKernel();
    double requestStamp = 0;
    std::vector<Value> requestValues;
    const auto standard = onKernelMessage;
    onKernelMessage = [&](vmsg::Message& m) {
        if (m.kind != 10) {
            standard(m);
            return;
        }
        requestStamp = m.timeStamp;
        requestValues = m.values;
        vmsg::Message answer;
        answer.push(std::vector<std::string>{"FEED", "PUMP1"});
        answer.setTimeStamp(777.25);
        kernel.reply(m, answer);
    };

    vmsgMsgPort port(desk);
    port.push("$top");
    port.push_divider();
    port.push(3);
    port.setTimeStamp(55.5);
    vmsgMsgPort* reply = vmsgRequestBlock(port, kernelHandle, 10, "   ", 20, nullptr);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->kind(), 10);
    EXPECT_EQ(reply->handle(), kernelHandle);
    EXPECT_EQ(reply->timeStamp(), 777.25);
    int count = 0;
    char** names = nullptr;
    ASSERT_TRUE(reply->pop(count, names, -99999, -1));
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(names[1], "PUMP1");
    EXPECT_EQ(requestStamp, 55.5);
    EXPECT_EQ(requestValues, (std::vector<Value>{std::string("$top"), vmsg::Divider{}, 3}));
    EXPECT_TRUE(received.empty()); // a reply is no unasked message

    // Without setTimeStamp the sender's wall clock goes out.
    vmsgMsgPort status(desk);
    vmsgMsgPort* statusReply = vmsgRequestBlock(status, kernelHandle, 32, "   ", 20, nullptr);
    ASSERT_NE(statusReply, nullptr);
    EXPECT_TRUE(statusReply->check_template("rviv"));
    EXPECT_LT(std::fabs(statusReply->timeStamp() - vmsg::wallClockNow()), 3600.0);
}

TEST_F(PortTest, UnaskedMessagesWaitForTheScheduler)
{
    const int kernelHandle = logOnKernel();
    vmsg::Message status;
    status.push(5);
    status.pushDivider();
    status.push("model");
    status.setTimeStamp(100.5);
    ASSERT_TRUE(kernel.send(kernelClient, 32, status));

    ASSERT_TRUE(runIo([this] { return desk.queued() == 1; }));
    EXPECT_TRUE(received.empty());
    ASSERT_TRUE(pump([this] { return !received.empty(); }));
    EXPECT_EQ(received[0].handle, kernelHandle);
    EXPECT_EQ(received[0].kind, 32);
    EXPECT_EQ(received[0].timeStamp, 100.5);
    EXPECT_EQ(received[0].values, (std::vector<Value>{5, vmsg::Divider{}, std::string("model")}));
    EXPECT_TRUE(notified.empty()); // the kernel connection is no client
}

TEST_F(PortTest, RequestDeliversNothingMeanwhileAndLosesNothing)
{
    const int kernelHandle = logOnKernel();
    vmsg::Peer runner(io);
    const int runnerHandle = runner.connect(desk.address());
    ASSERT_GT(runnerHandle, 0);
    onKernelMessage = [&](vmsg::Message& m) {
        for (int i = 1; i <= 3; ++i)
            kernel.send(kernelClient, 32, values({i}));
        runner.send(runnerHandle, 205, values({4}));
        ASSERT_TRUE(runner.flush(runnerHandle, seconds(10)));
        kernel.reply(m, values({99}));
    };

    vmsgMsgPort port(desk);
    vmsgMsgPort* reply = vmsgRequestBlock(port, kernelHandle, 64, "   ", 50, nullptr);
    ASSERT_NE(reply, nullptr);
    int answer = 0;
    EXPECT_TRUE(reply->pop(answer, -99999));
    EXPECT_EQ(answer, 99);
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(notified.empty());

    ASSERT_TRUE(pump([this] { return received.size() == 4; }));
    ASSERT_EQ(notified.size(), 1u);
    EXPECT_EQ(notified[0].event, vmsg::eventLoggedOn); // the log-on came before the messages
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(received[i].values, (std::vector<Value>{i + 1}));
    EXPECT_EQ(received[3].kind, 205);
    EXPECT_EQ(received[3].handle, notified[0].handle);
}

TEST_F(PortTest, AReplyThatNeverComesEndsTheWaitAndArrivesNowhere)
{
    const int kernelHandle = logOnKernel();
    vmsgMsgPort port(desk);
    vmsgMsgPort* reply = nullptr;
    const auto took = timed([&] { reply = vmsgRequestBlock(port, kernelHandle, 64, "   ", 2, nullptr); });
    EXPECT_EQ(reply, nullptr);
    EXPECT_GE(took, milliseconds(200));
    EXPECT_LT(took, scaled(seconds(10)));

    // The kernel answers late; the answer is dropped, the next unasked message still arrives.
    ASSERT_EQ(kernelInbox.size(), 1u);
    kernel.reply(kernelInbox[0], values({1}));
    kernel.send(kernelClient, 32, values({2}));
    ASSERT_TRUE(pump([this] { return !received.empty(); }));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].values, (std::vector<Value>{2}));
}

TEST_F(PortTest, ALostConnectionEndsTheWaitEarly)
{
    const int kernelHandle = logOnKernel();
    onKernelMessage = [this](vmsg::Message& m) { kernel.close(m.handle); };
    vmsgMsgPort port(desk);
    vmsgMsgPort* reply = nullptr;
    const auto took = timed([&] { reply = vmsgRequestBlock(port, kernelHandle, 10, "   ", 600, nullptr); });
    EXPECT_EQ(reply, nullptr);
    EXPECT_LT(took, scaled(seconds(30)));
    EXPECT_TRUE(notified.empty());
    ASSERT_TRUE(pump([this] { return !notified.empty(); }));
    EXPECT_EQ(notified[0], (Notified{kernelHandle, vmsg::eventClosed, 5}));
    EXPECT_FALSE(desk.isOpen(kernelHandle));
    EXPECT_EQ(port.write(kernelHandle, 514, "   ", 0, true), 0);
}

TEST_F(PortTest, RequestsOnHandlesThatAreNotOpenFailAtOnce)
{
    vmsgMsgPort port(desk);
    EXPECT_EQ(vmsgRequestBlock(port, 0, 32, "   ", 20, nullptr), nullptr);
    EXPECT_EQ(vmsgRequestBlock(port, 12345, 32, "   ", 20, nullptr), nullptr);
    EXPECT_EQ(port.write(0, 514, "   ", 0, true), 0);
}

TEST_F(PortTest, LogOnFailsCleanly)
{
    vmsgMsgPort port(desk);
    EXPECT_EQ(port.log_on(kernelService, 70000, "127.0.0.1", true), 0);   // port beyond 65535
    EXPECT_EQ(port.log_on(kernelService, -100000, "127.0.0.1", true), 0); // port below 1
    EXPECT_EQ(port.log_on(kernelService, instance, "", true), 0);
    EXPECT_EQ(port.log_on(kernelService, instance, nullptr, true), 0);
    const auto took = timed([&] { EXPECT_EQ(port.log_on(kernelService, instance, "no-such-host.invalid", true), 0); });
    EXPECT_LT(took, scaled(seconds(10)));
    kernel.stopListening();
    EXPECT_EQ(port.log_on(kernelService, instance, "127.0.0.1", true), 0); // refused
    EXPECT_TRUE(notified.empty());
}

TEST_F(PortTest, LogOnReachesAKernelByName)
{
    vmsgMsgPort port(desk);
    const int handle = port.log_on(kernelService, instance, "localhost", false);
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(pump([this] { return kernelClient != 0; }));
}

TEST_F(PortTest, LossOfTheKernelIsNotified)
{
    const int kernelHandle = logOnKernel();
    kernel.close(kernelClient);
    ASSERT_TRUE(pump([this] { return !notified.empty(); }));
    EXPECT_EQ(notified[0], (Notified{kernelHandle, vmsg::eventClosed, 5}));
}

TEST_F(PortTest, LogOffClosesQuietlyAndDropsWhatIsQueued)
{
    const int kernelHandle = logOnKernel();
    kernel.send(kernelClient, 32, values({1}));
    ASSERT_TRUE(runIo([this] { return desk.queued() == 1; }));
    vmsgMsgPort port(desk);
    port.log_off(kernelService);
    EXPECT_FALSE(desk.isOpen(kernelHandle));
    EXPECT_EQ(desk.queued(), 0u);
    ASSERT_TRUE(pump([this] { return kernelEvents.size() == 2; }));
    EXPECT_EQ(kernelEvents[1].event, vmsg::eventClosed);
    EXPECT_TRUE(notified.empty());
    EXPECT_TRUE(received.empty());

    const int again = port.log_on(kernelService, instance, "127.0.0.1", true);
    EXPECT_GT(again, kernelHandle); // handles are not reused
}

TEST_F(PortTest, TwoClientsLogOnAndDisconnect)
{
    vmsg::Peer first(io);
    vmsg::Peer second(io);
    int firstOwn = 0;
    int secondOwn = 0;
    const int a = connectClient(first, firstOwn);
    const int b = connectClient(second, secondOwn);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(notified[0].user, 5);

    vmsg::Message name;
    name.push("second.kelm");
    second.send(secondOwn, 505, name);
    first.send(firstOwn, 505, values({1}));
    ASSERT_TRUE(pump([this] { return received.size() == 2; }));
    for (const Received& r : received)
        EXPECT_EQ(r.handle, r.values[0] == Value(std::string("second.kelm")) ? b : a);

    first.close(firstOwn);
    ASSERT_TRUE(pump([this] { return notified.size() == 3; }));
    EXPECT_EQ(notified[2], (Notified{a, vmsg::eventClosed, 5}));
    second.send(secondOwn, 513, vmsg::Message());
    ASSERT_TRUE(pump([this] { return received.size() == 3; }));
    EXPECT_EQ(received[2].handle, b);
}

TEST_F(PortTest, WriteReachesTheClient)
{
    vmsg::Peer runner(io);
    int own = 0;
    const int handle = connectClient(runner, own);
    std::vector<int> kinds;
    runner.setMessageHandler([&](vmsg::Message& m) {
        EXPECT_EQ(m.requestId, 0u);
        kinds.push_back(m.kind);
    });
    vmsgMsgPort stop(desk);
    EXPECT_EQ(stop.write(handle, 514, "   ", 0, true), 1);

    vmsgMsgPort huge(desk);
    huge.push(std::string(300000, 'x').c_str());
    EXPECT_EQ(huge.write(handle, 205, "   ", 0, true), 0); // over the bound: refused, connection kept
    EXPECT_EQ(stop.write(handle, 514, "   ", 0, true), 1);
    ASSERT_TRUE(pump([&] { return kinds.size() == 2; }));
    EXPECT_EQ(kinds, (std::vector<int>{514, 514}));
}

TEST_F(PortTest, APeerThatDiesMidFrameIsAnError)
{
    asio::ip::tcp::socket raw(io);
    const int handle = rawClient(raw);
    ASSERT_GT(handle, 0);
    std::vector<std::uint8_t> frame;
    vmsg::Message m;
    m.push("half of this goes out");
    vmsg::encodeFrame(vmsg::FrameType::Data, 205, 0, m, 0, vmsg::defaultMaxMessage, frame);
    asio::write(raw, asio::buffer(frame.data(), frame.size() / 2));
    raw.close();
    ASSERT_TRUE(pump([this] { return notified.size() == 2; }));
    EXPECT_EQ(notified[1], (Notified{handle, vmsg::eventError, 5}));
    EXPECT_TRUE(received.empty());
}

TEST_F(PortTest, AClientThatDoesNotLogOnIsNeverAnnounced)
{
    vmsg::Peer runner(io);
    int own = 0;
    asio::ip::tcp::socket raw(io);
    rawClient(raw, false);
    std::vector<std::uint8_t> frame;
    vmsg::encodeFrame(vmsg::FrameType::Data, 515, 0, vmsg::Message(), 0, vmsg::defaultMaxMessage, frame);
    asio::write(raw, asio::buffer(frame));
    // The runner's log-on comes after the raw frame was processed: the raw client left no trace.
    const int handle = connectClient(runner, own);
    ASSERT_EQ(notified.size(), 1u);
    EXPECT_EQ(notified[0].handle, handle);
    EXPECT_TRUE(received.empty());
}

namespace {

struct Malformed
{
    const char* name;
    std::vector<std::uint8_t> bytes;
};

class MalformedFrameTest : public PortFixture, public ::testing::WithParamInterface<Malformed>
{
};

} // namespace

TEST_P(MalformedFrameTest, ClosesOnlyThatConnection)
{
    vmsg::Peer runner(io);
    int own = 0;
    const int good = connectClient(runner, own);
    asio::ip::tcp::socket raw(io);
    const int bad = rawClient(raw);
    ASSERT_GT(bad, 0);

    asio::write(raw, asio::buffer(GetParam().bytes));
    ASSERT_TRUE(pump([&] { return notified.size() == 3; }));
    EXPECT_EQ(notified[2], (Notified{bad, vmsg::eventError, 5}));

    bool ended = false;
    std::array<char, 64> sink;
    std::function<void(const asio::error_code&, std::size_t)> drain = [&](const asio::error_code& ec, std::size_t) {
        if (ec)
            ended = true;
        else
            raw.async_read_some(asio::buffer(sink), drain);
    };
    raw.async_read_some(asio::buffer(sink), drain);
    ASSERT_TRUE(pump([&] { return ended; }));

    runner.send(own, 205, values({7}));
    ASSERT_TRUE(pump([this] { return !received.empty(); }));
    EXPECT_EQ(received[0].handle, good);
    EXPECT_EQ(received[0].values, (std::vector<Value>{7}));
}

INSTANTIATE_TEST_SUITE_P(Frames, MalformedFrameTest,
                         ::testing::Values(Malformed{"OversizedLength", {'V', 'M', 1, 3, 0x10, 0, 0, 0}},
                                           Malformed{"UnknownTag", {'V', 'M', 1, 3, 0, 0, 0, 26, 0, 0, 0, 205, 0,
                                                                    0,   0,   0, 0, 0, 0, 0, 0,  0, 0, 0, 'q', 0}},
                                           Malformed{"TruncatedValue",
                                                     {'V', 'M', 1, 3, 0, 0, 0, 27, 0, 0, 0,   205, 0, 0,
                                                      0,   0,   0, 0, 0, 0, 0, 0,  0, 0, 's', 0,   9}},
                                           Malformed{"SecondLogOn", {'V', 'M', 1, 1, 0, 0, 0, 24, 0, 0, 0, 1,
                                                                     0,   0,   0, 0, 0, 0, 0, 0,  0, 0, 0, 0}}),
                         [](const ::testing::TestParamInfo<Malformed>& test) { return std::string(test.param.name); });

TEST_F(PortTest, NestedSchedulerCallsDeliverNothingWhenNotReentrant)
{
    desk.setSchedulerReentrant(false);
    vmsg::Peer runner(io);
    int own = 0;
    connectClient(runner, own);
    int nestedResult = -1;
    std::size_t seenInNested = 0;
    desk.registerNonReply([&](int, vmsgMsgPort* m) {
        int value = 0;
        m->pop(value, -99999);
        received.push_back({m->handle(), m->kind(), 0, {value}});
        if (value == 1) {
            // What a modal message box does: its loop's timer calls the scheduler again.
            nestedResult = desk.scheduler(0);
            seenInNested = received.size();
        }
    });
    for (int i = 1; i <= 3; ++i)
        runner.send(own, 205, values({i}));
    ASSERT_TRUE(runner.flush(own, seconds(10)));
    ASSERT_TRUE(runIo([this] { return desk.queued() == 3; }));

    ASSERT_TRUE(pump([this] { return received.size() == 3; }));
    EXPECT_EQ(nestedResult, 0);
    EXPECT_EQ(seenInNested, 1u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(received[i].values, (std::vector<Value>{i + 1}));
}

TEST(GlobalPort, StartUpPortPublishesItsAddress)
{
    int notifications = 0;
    {
        vmsgMsgPort setup(0, nullptr, 262144, 2, 0, 1);
        setup.register_client_notify([&](int, int event, long) { notifications += event == 1; }, 0);
        vmsgRegisterNonReply([](int, vmsgMsgPort*) {});
        vmsgSetSchedulerReentrant(false);
    }
    const char* address = std::getenv("VMSG_ADDRESS");
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(std::string(address).rfind("127.0.0.1:", 0), 0u);
    EXPECT_EQ(vmsg::Context::global().address(), address);

    vmsg::Peer runner(vmsg::Context::global().ioContext());
    const std::string published = address;
    ASSERT_GT(runner.connect(published), 0);
    const auto deadline = steady_clock::now() + scaled(seconds(20));
    while (notifications == 0 && steady_clock::now() < deadline)
        vmsgScheduler(8454144);
    EXPECT_EQ(notifications, 1);

    vmsgMsgPort editOnly(0, nullptr, 262144, 1, 0, 1);
    EXPECT_EQ(std::getenv("VMSG_ADDRESS"), nullptr);
    // Nothing listens there any more: a connection is refused at once.
    std::string host;
    int port = 0;
    ASSERT_TRUE(protocol::splitHostPort(published, host, port));
    asio::ip::tcp::socket probe(vmsg::Context::global().ioContext());
    asio::error_code refused;
    probe.connect({asio::ip::make_address(host), static_cast<unsigned short>(port)}, refused);
    EXPECT_EQ(refused, asio::error::connection_refused);
}
