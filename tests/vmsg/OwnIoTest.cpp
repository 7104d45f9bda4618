// The desk's port on an io_context of its own, as KelmDesk runs it: the scheduler delivers messages
// straight from the read, texts pointing into the received frame, and a request waits in the
// socket's own read. The kernel is a peer on a thread of its own, as it would be in its own process.

#include "vmsg/Context.h"
#include "vmsg/Frame.h"
#include "vmsg/Peer.h"
#include "vmsg/Secret.h"
#include "vmsg/vmsg.h"
#include "tests/common/TimeScale.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono;

namespace {

constexpr int instance = 3;
constexpr int kernelService = 65536;

vmsg::Message line(int number, const std::string& text)
{
    vmsg::Message m;
    m.push(number);
    m.push(text);
    return m;
}

// A kernel on its own thread. Kind 64 asks for a burst of lines (unasked kind 506) sent just before
// the reply, unasked kind 2 for the burst alone; kind 32 is the status; unasked kind 1 asks for one
// message of every shape (kind 7).
class KernelThread
{
public:
    explicit KernelThread(int burst) : m_burst(burst)
    {
        std::promise<int> port;
        std::future<int> listening = port.get_future();
        m_thread = std::thread([this, &port] {
            vmsg::Peer kernel;
            port.set_value(kernel.listen("127.0.0.1", 0) ? kernel.localPort() : 0);
            kernel.setMessageHandler([&](vmsg::Message& m) { answer(kernel, m); });
            kernel.run(milliseconds(10), [&] {
                if (m_stop)
                    kernel.stop();
            });
        });
        m_port = listening.get();
        ::setenv("NORVEX_PORT_BASE", std::to_string(m_port - instance).c_str(), 1);
    }
    ~KernelThread()
    {
        m_stop = true;
        m_thread.join();
        ::unsetenv("NORVEX_PORT_BASE");
    }
    int port() const { return m_port; }

    // One message of each shape, as kind 7 sends them: texts in the middle and at the end, empty
    // texts, arrays, dividers, reals.
    static std::vector<vmsg::Message> shapes()
    {
        std::vector<vmsg::Message> all(5);
        all[0].push("in the middle");
        all[0].push(42);
        all[1].push(std::string());
        all[1].pushDivider();
        all[1].push(std::string(300, 'z'));
        all[2].push(std::vector<std::string>{"FEED", "", "PUMP1"});
        all[2].push("after an array");
        all[3].push(2.5);
        all[3].pushDivider();
        all[3].push(1);
        all[3].pushDivider();
        return all;
    }

private:
    void answer(vmsg::Peer& kernel, vmsg::Message& m)
    {
        if (m.kind == 32 && m.requestId) {
            vmsg::Message status; // "rviv": time 12.5, running
            status.values = {12.5, vmsg::Divider{}, std::int32_t(1), vmsg::Divider{}};
            kernel.reply(m, status);
        } else if (m.kind == 64 && m.requestId) {
            for (int i = 0; i < m_burst; ++i)
                kernel.send(m.handle, 506, line(i, "line " + std::to_string(i) + " of the burst"));
            kernel.reply(m, line(-1, "the reply"));
        } else if (m.kind == 2) {
            for (int i = 0; i < m_burst; ++i)
                kernel.send(m.handle, 506, line(i, "line " + std::to_string(i) + " of the burst"));
        } else if (m.kind == 1) {
            for (const vmsg::Message& shape : shapes())
                kernel.send(m.handle, 7, shape);
        }
    }

    const int m_burst;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    int m_port = 0;
};

class OwnIoTest : public ::testing::Test
{
protected:
    // Runs the scheduler until done() holds; false after a generous deadline.
    bool pump(const std::function<bool()>& done)
    {
        const auto deadline = steady_clock::now() + scaled(seconds(20));
        while (!done()) {
            if (steady_clock::now() > deadline)
                return false;
            if (desk.scheduler(0) == 0)
                std::this_thread::yield();
        }
        return true;
    }

    int logOn()
    {
        vmsgMsgPort port(desk);
        return port.log_on(kernelService, instance, "127.0.0.1", false);
    }

    // A raw client logged on to the desk's own port; returns the handle the desk reported for it.
    int rawClient(asio::ip::tcp::socket& socket)
    {
        desk.configure(262144, 2);
        std::string host;
        int port = 0;
        if (!protocol::splitHostPort(desk.address(), host, port))
            return 0;
        // A member, not a local: the handler is called again after this returns (the loss).
        reported = 0;
        desk.registerClientNotify(
            [this](int h, int event, long) {
                events.push_back(event);
                reported = h;
            },
            0);
        socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
        std::vector<std::uint8_t> frame;
        vmsg::Message secret; // the port admits only holders of the published secret
        secret.push(vmsg::publishedSecret());
        vmsg::encodeFrame(vmsg::FrameType::LogOn, 1, 0, secret, 0, vmsg::defaultMaxMessage, frame);
        asio::write(socket, asio::buffer(frame));
        return pump([&] { return reported != 0; }) ? reported : 0;
    }

    vmsg::Context desk; // its own io_context
    std::vector<int> events;
    int reported = 0;
};

} // namespace

TEST_F(OwnIoTest, ATextStaysValidWhileItsHandlerReadsTheSameConnectionAgain)
{
    KernelThread kernel(200);
    const int handle = logOn();
    ASSERT_GT(handle, 0);
    std::vector<std::string> seen;
    std::string kept;
    bool asked = false;
    desk.registerNonReply([&](int kind, vmsgMsgPort* m) {
        int number = 0;
        char* text = nullptr;
        if (!m->pop(number, -99999) || !m->pop(text, -99999, -1))
            return;
        seen.push_back(std::to_string(kind) + ":" + text);
        if (asked)
            return;
        asked = true;
        // The burst and the reply come in on this very connection while this text is held.
        vmsgMsgPort request(desk);
        vmsgMsgPort* reply = vmsgRequestBlock(request, handle, 64, "   ", 50, nullptr);
        char* answer = nullptr;
        if (reply && reply->pop(number, -99999) && reply->pop(answer, -99999, -1))
            kept = std::string(text) + "|" + answer;
    });
    vmsgMsgPort start(desk);
    ASSERT_TRUE(start.write(handle, 2, "   ", 0, true)); // a burst, read and delivered by the scheduler
    ASSERT_TRUE(pump([&] { return seen.size() == 400; }));
    EXPECT_EQ(kept, "line 0 of the burst|the reply");
    for (std::size_t i = 0; i < seen.size(); ++i)
        ASSERT_EQ(seen[i], "506:line " + std::to_string(i % 200) + " of the burst") << i;
}

TEST_F(OwnIoTest, EveryShapeArrivesIntactStraightFromTheRead)
{
    KernelThread kernel(0);
    const int handle = logOn();
    ASSERT_GT(handle, 0);
    std::vector<std::vector<vmsg::Value>> got;
    std::vector<std::string> popped;
    desk.registerNonReply([&](int kind, vmsgMsgPort* m) {
        if (kind != 7)
            return;
        // Pops first, then the whole message: texts popped before stay as they were.
        char* text = nullptr;
        m->pop(text, -99999, -1);
        const std::string first = text;
        got.push_back(m->message().values);
        popped.push_back(first + "|" + text);
    });
    const std::vector<vmsg::Message> expected = KernelThread::shapes();
    constexpr int rounds = 20;
    for (int round = 0; round < rounds; ++round) {
        vmsgMsgPort ask(desk);
        ASSERT_TRUE(ask.write(handle, 1, "   ", 0, true));
        ASSERT_TRUE(pump([&] { return got.size() == std::size_t(round + 1) * expected.size(); }));
    }
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], expected[i % expected.size()].values) << i;
    EXPECT_EQ(popped[0], "in the middle|in the middle");
    EXPECT_EQ(popped[1], "|");
    EXPECT_EQ(popped[2], "|"); // an array first, and a real: the failed pops give empty texts
    EXPECT_EQ(popped[3], "|");
}

TEST_F(OwnIoTest, ANestedSchedulerDeliversTheRestOfTheReadAndLeavesTheOuterMessageIntact)
{
    asio::io_context io;
    asio::ip::tcp::socket client(io);
    ASSERT_GT(rawClient(client), 0);
    // The whole burst in one write, so that the desk's one read holds all of it.
    std::vector<std::uint8_t> burst;
    for (int i = 0; i < 50; ++i) {
        vmsg::encodeFrame(vmsg::FrameType::Data, 506, 0, line(i, "line " + std::to_string(i)), 0,
                          vmsg::defaultMaxMessage, burst);
    }
    std::vector<int> order;
    std::string outer;
    desk.registerNonReply([&](int, vmsgMsgPort* m) {
        int number = 0;
        char* text = nullptr;
        if (!m->pop(number, -99999) || !m->pop(text, -99999, -1))
            return;
        order.push_back(number);
        if (number == 0) {
            // What a modal dialog's timer does: later messages are delivered from inside this one.
            const auto until = steady_clock::now() + scaled(seconds(20));
            while (order.size() < 50 && steady_clock::now() < until)
                desk.scheduler(0);
            outer = text;
        }
    });
    asio::write(client, asio::buffer(burst));
    ASSERT_TRUE(pump([&] { return order.size() == 50; }));
    EXPECT_EQ(outer, "line 0");
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[std::size_t(i)], i);
}

TEST_F(OwnIoTest, RequestsWaitInTheSocketForTheirTimeAndNoLonger)
{
    KernelThread kernel(0);
    const int handle = logOn();
    ASSERT_GT(handle, 0);
    vmsgMsgPort status(desk);
    vmsgMsgPort* reply = vmsgRequestBlock(status, handle, 32, "   ", 20, nullptr);
    ASSERT_NE(reply, nullptr);
    EXPECT_TRUE(reply->check_template("rviv"));
    double t = 0;
    EXPECT_TRUE(reply->pop(t, -99999));
    EXPECT_EQ(t, 12.5);

    // Kind 10 gets no answer from this kernel: the wait ends at its limit, not before.
    vmsgMsgPort silent(desk);
    const auto start = steady_clock::now();
    EXPECT_EQ(vmsgRequestBlock(silent, handle, 10, "   ", 3, nullptr), nullptr);
    const auto took = steady_clock::now() - start;
    EXPECT_GE(took, milliseconds(300));
    EXPECT_LT(took, scaled(seconds(10)));

    // The connection still works, and the reply object is reused.
    vmsgMsgPort* again = vmsgRequestBlock(status, handle, 32, "   ", 20, nullptr);
    EXPECT_EQ(again, reply);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->check_template("rviv"));
}

TEST_F(OwnIoTest, AWaitOnAConnectionThatIsLostEndsAtOnce)
{
    asio::io_context io;
    asio::ip::tcp::socket raw(io);
    const int handle = rawClient(raw);
    ASSERT_GT(handle, 0);

    // The client reads the Accept and the request, sends half a frame and leaves: the wait ends with
    // the loss.
    std::thread client([&] {
        std::uint8_t acceptAndRequest[2 * vmsg::frameHeaderSize];
        asio::error_code ec;
        asio::read(raw, asio::buffer(acceptAndRequest), ec);
        std::vector<std::uint8_t> half;
        vmsg::encodeFrame(vmsg::FrameType::Reply, 10, 1, line(1, "cut short"), 0, vmsg::defaultMaxMessage, half);
        asio::write(raw, asio::buffer(half.data(), half.size() / 2), ec);
        raw.close();
    });
    vmsgMsgPort request(desk);
    const auto start = steady_clock::now();
    EXPECT_EQ(vmsgRequestBlock(request, handle, 10, "   ", 600, nullptr), nullptr);
    EXPECT_LT(steady_clock::now() - start, scaled(seconds(30)));
    client.join();
    ASSERT_TRUE(pump([&] { return events.size() == 2; }));
    EXPECT_EQ(events[1], vmsg::eventError);
}

TEST_F(OwnIoTest, ABusyPeerStillTakesASecondClient)
{
    // The kernel serves the desk's requests back to back, waiting in that connection's read; a
    // second client's log-on must still get through, well within its deadline.
    KernelThread kernel(0);
    const int handle = logOn();
    ASSERT_GT(handle, 0);
    std::atomic<int> second{-1};
    std::thread client([&] {
        vmsg::Peer other;
        second = other.connect("127.0.0.1", kernel.port(), scaled(seconds(2)), kernelService);
    });
    int requests = 0;
    while (second < 0) {
        vmsgMsgPort status(desk);
        if (vmsgRequestBlock(status, handle, 32, "   ", 20, nullptr))
            ++requests;
    }
    client.join();
    EXPECT_GT(second, 0);
    EXPECT_GT(requests, 0);
}

TEST_F(OwnIoTest, PopsStraightFromTheReadSkipDividersAndStayOnMismatches)
{
    asio::io_context io;
    asio::ip::tcp::socket client(io);
    ASSERT_GT(rawClient(client), 0);
    // Texts ahead of a string array (a frame that is copied after its texts were looked at in place),
    // and texts that end their frame, all in one read.
    vmsg::Message mixed;
    mixed.push("first");
    mixed.push("second");
    mixed.push(std::vector<std::string>{"FEED", "PUMP1"});
    mixed.push("last");
    vmsg::Message status;
    status.values = {std::string("model"), vmsg::Divider{}, 12.5, vmsg::Divider{}, std::int32_t(2), vmsg::Divider{}};
    std::vector<std::uint8_t> burst;
    for (const vmsg::Message* m : {&mixed, &status, &mixed})
        vmsg::encodeFrame(vmsg::FrameType::Data, 7, 0, *m, 0, vmsg::defaultMaxMessage, burst);

    std::vector<std::string> got;
    desk.registerNonReply([&](int, vmsgMsgPort* m) {
        char* text = nullptr;
        int number = 0;
        double real = 0;
        if (m->check_template("ssas")) {
            char** strings = nullptr;
            int count = 0;
            std::string all;
            m->pop(text, -99999, -1);
            all += text;
            EXPECT_EQ(m->pop(number, -7), 0); // a string is next: the position stays
            EXPECT_EQ(number, -7);
            m->pop(text, -99999, -1);
            all += std::string("|") + text;
            EXPECT_EQ(m->pop(count, strings, -99999, -1), 1);
            for (int i = 0; i < count; ++i)
                all += std::string("|") + strings[i];
            m->pop(text, -99999, -1);
            got.push_back(all + "|" + text);
        } else {
            EXPECT_EQ(m->pop(text, -99999, -1), 1);
            EXPECT_EQ(m->pop(real, -99999), 1); // across the divider
            EXPECT_EQ(m->pop(number, -99999), 1);
            EXPECT_EQ(m->pop(number, -5), 0); // only a divider is left
            got.push_back(std::string(text) + "|" + std::to_string(real) + "|" + std::to_string(number));
        }
    });
    asio::write(client, asio::buffer(burst));
    ASSERT_TRUE(pump([&] { return got.size() == 3; }));
    EXPECT_EQ(got[0], "first|second|FEED|PUMP1|last");
    EXPECT_EQ(got[1], "model|12.500000|-5");
    EXPECT_EQ(got[2], "first|second|FEED|PUMP1|last");
}

TEST_F(OwnIoTest, AReadThatEndsWithAFinalTextKeepsItsZeroInsideTheBuffer)
{
    asio::io_context io;
    asio::ip::tcp::socket client(io);
    ASSERT_GT(rawClient(client), 0);
    // Frames ending in a text that fill a fresh 64 KiB read buffer to its last byte: the zero behind the
    // last text must not land beyond the buffer (the sanitizer build sees it).
    const std::size_t fill = 64 * 1024;
    std::vector<std::uint8_t> burst;
    int frames = 0;
    while (fill - burst.size() >= 2 * 200) {
        vmsg::encodeFrame(vmsg::FrameType::Data, 506, 0, line(frames, std::string(100, 'x')), 0,
                          vmsg::defaultMaxMessage, burst);
        ++frames;
    }
    const std::size_t lastText = fill - burst.size() - 34; // header 24, an integer 5, a string's tag and count 5
    vmsg::encodeFrame(vmsg::FrameType::Data, 506, 0, line(frames, std::string(lastText, 'y')), 0,
                      vmsg::defaultMaxMessage, burst);
    ++frames;
    ASSERT_EQ(burst.size(), fill);

    std::vector<std::size_t> sizes;
    desk.registerNonReply([&](int, vmsgMsgPort* m) {
        int number = 0;
        char* text = nullptr;
        if (m->pop(number, -99999) && m->pop(text, -99999, -1))
            sizes.push_back(std::strlen(text));
    });
    asio::write(client, asio::buffer(burst));
    ASSERT_TRUE(pump([&] { return sizes.size() == std::size_t(frames); }));
    EXPECT_EQ(sizes.back(), lastText);
    EXPECT_EQ(sizes.front(), 100u);
}
