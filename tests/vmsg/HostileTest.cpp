// The desk's port against clients that do not play by the rules: no secret, half frames, idle
// clients at the cap.
#include "PortFixture.h"

#include "vmsg/Node.h"
#include "vmsg/Secret.h"

#include <cctype>

using namespace std::chrono;

namespace {

class HostileTest : public PortFixture
{
protected:
    // A raw client that sends a LogOn with values; false when the desk did not take it.
    void sendLogOn(asio::ip::tcp::socket& socket, const vmsg::Message& values)
    {
        socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(deskPort())});
        std::vector<std::uint8_t> frame;
        vmsg::encodeFrame(vmsg::FrameType::LogOn, 1, 0, values, 0, vmsg::defaultMaxMessage, frame);
        asio::write(socket, asio::buffer(frame));
    }

    // Runs the desk until socket is closed by it; false when it stays open for 10 s. What the desk
    // sent before is counted in answered.
    bool closedByDesk(asio::ip::tcp::socket& socket, std::size_t* answered = nullptr)
    {
        bool closed = false;
        std::vector<char> buffer(256);
        std::function<void()> watch = [&] {
            socket.async_read_some(asio::buffer(buffer), [&](const asio::error_code& ec, std::size_t n) {
                if (answered)
                    *answered += n;
                if (ec)
                    closed = true;
                else
                    watch();
            });
        };
        watch();
        const bool ok = pump([&] { return closed; }, seconds(10));
        socket.close();
        return ok;
    }

    static std::vector<std::uint8_t> dataFrame(const vmsg::Message& values)
    {
        std::vector<std::uint8_t> frame;
        vmsg::encodeFrame(vmsg::FrameType::Data, 205, 0, values, 0, vmsg::defaultMaxMessage, frame);
        return frame;
    }

    static vmsg::Message text(const std::string& s)
    {
        vmsg::Message m;
        m.push(s);
        return m;
    }

    void shortDeadlines(std::size_t maxIncoming = 256, milliseconds idle = milliseconds(300))
    {
        vmsg::Node::Limits limits;
        limits.frameTimeout = scaled(milliseconds(300));
        limits.idleTimeout = idle;
        limits.maxIncoming = maxIncoming;
        desk.setConnectionLimits(limits);
    }
};

} // namespace

TEST_F(HostileTest, TheSecretIsPublishedWithTheAddress)
{
    const std::string secret = vmsg::publishedSecret();
    ASSERT_EQ(secret.size(), vmsg::secretLength);
    for (char c : secret)
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f')) << secret;
    EXPECT_NE(vmsg::makeSecret(), vmsg::makeSecret());

    // Presented only on a service-1 LogOn to the published port.
    EXPECT_EQ(vmsg::secretFor("127.0.0.1", deskPort(), 1), secret);
    EXPECT_EQ(vmsg::secretFor("127.0.0.1", deskPort(), kernelService), "");
    EXPECT_EQ(vmsg::secretFor("127.0.0.1", deskPort() == 1 ? 2 : deskPort() - 1, 1), "");
    EXPECT_EQ(vmsg::secretFor("127.0.0.2", deskPort(), 1), "");

    // A runner started by hand may be given the address as localhost.
    const std::string published = desk.address();
    ::setenv(protocol::addressVariable, ("LocalHost:" + std::to_string(deskPort())).c_str(), 1);
    EXPECT_EQ(vmsg::secretFor("127.0.0.1", deskPort(), 1), secret);
    EXPECT_EQ(vmsg::secretFor("::1", deskPort(), 1), secret);
    EXPECT_EQ(vmsg::secretFor("127.0.0.2", deskPort(), 1), "");
    ::setenv(protocol::addressVariable, published.c_str(), 1);
}

TEST_F(HostileTest, LogOnsWithoutTheSecretAreClosedCountedAndNeverReported)
{
    const std::string secret = vmsg::publishedSecret();
    std::string wrong = secret;
    wrong.back() = wrong.back() == '0' ? '1' : '0';
    vmsg::Message asInteger;
    asInteger.push(7);
    vmsg::Message second; // the secret, but not first
    second.push(1);
    second.push(secret);
    const vmsg::Message none;
    const vmsg::Message* refused[] = {&none, &asInteger, &second};
    std::vector<vmsg::Message> texts;
    for (const std::string& s : {std::string(), wrong, secret.substr(0, 31), secret + "0", std::string(100000, 'x')})
        texts.push_back(text(s));

    std::size_t tries = 0;
    for (const vmsg::Message* values : refused) {
        asio::ip::tcp::socket raw(io);
        sendLogOn(raw, *values);
        EXPECT_TRUE(closedByDesk(raw));
        ++tries;
    }
    for (const vmsg::Message& values : texts) {
        asio::ip::tcp::socket raw(io);
        sendLogOn(raw, values);
        EXPECT_TRUE(closedByDesk(raw));
        ++tries;
    }
    EXPECT_EQ(desk.refusedLogOns(), tries);
    EXPECT_TRUE(notified.empty());

    // The right secret, with values behind it, gets in; so does a library client, by itself.
    vmsg::Message right = text(secret);
    right.push(1);
    asio::ip::tcp::socket raw(io);
    sendLogOn(raw, right);
    ASSERT_TRUE(pump([&] { return notified.size() == 1; }));
    vmsg::Peer runner(io);
    int own = 0;
    EXPECT_GT(connectClient(runner, own), 0);
    EXPECT_EQ(desk.refusedLogOns(), tries);
}

TEST_F(HostileTest, TheSecretNeverGoesToAnotherServer)
{
    // A server that records the LogOn it gets.
    asio::ip::tcp::acceptor other(io, {asio::ip::make_address("127.0.0.1"), 0});
    asio::ip::tcp::socket accepted(io);
    std::vector<std::uint8_t> logOn(4096);
    std::size_t got = 0;
    other.async_accept(accepted, [&](const asio::error_code& ec) {
        if (!ec)
            accepted.async_read_some(asio::buffer(logOn), [&](const asio::error_code&, std::size_t n) { got = n; });
    });
    vmsg::Peer runner(io);
    EXPECT_EQ(runner.connect("127.0.0.1", other.local_endpoint().port(), milliseconds(500)), 0);
    ASSERT_TRUE(pump([&] { return got != 0; })) << "the other server read nothing";
    ASSERT_EQ(got, vmsg::frameHeaderSize); // a LogOn without values
    EXPECT_EQ(logOn[3], std::uint8_t(vmsg::FrameType::LogOn));
}

TEST_F(HostileTest, AHalfFrameAfterLogOnIsClosedAfterTheFrameDeadline)
{
    shortDeadlines();
    asio::ip::tcp::socket holder(io);
    const int held = rawClient(holder);
    ASSERT_GT(held, 0);
    const std::vector<std::uint8_t> frame = dataFrame(text("half of it"));
    asio::write(holder, asio::buffer(frame.data(), frame.size() / 2));

    // A client that sends its frames in pieces, each completed within the deadline, is kept.
    asio::ip::tcp::socket slow(io);
    const int slowHandle = rawClient(slow);
    ASSERT_GT(slowHandle, 0);
    const auto start = steady_clock::now();
    for (int i = 0; i < 6; ++i) {
        asio::write(slow, asio::buffer(frame.data(), 10));
        const auto until = steady_clock::now() + milliseconds(100);
        pump([&] { return steady_clock::now() >= until; });
        asio::write(slow, asio::buffer(frame.data() + 10, frame.size() - 10));
        ASSERT_TRUE(pump([&] { return received.size() == std::size_t(i + 1); }));
    }
    ASSERT_GT(steady_clock::now() - start, milliseconds(600));
    EXPECT_TRUE(closedByDesk(holder));
    EXPECT_EQ(std::count(notified.begin(), notified.end(), Notified{held, vmsg::eventError, 5}), 1);
    EXPECT_EQ(
        std::count_if(notified.begin(), notified.end(), [&](const Notified& n) { return n.handle == slowHandle; }),
        1); // its log-on only
}

TEST_F(HostileTest, AtTheCapANewClientTakesTheSlotOfAHandshakeOrOfTheLongestIdle)
{
    const milliseconds idleLimit = scaled(milliseconds(1000));
    shortDeadlines(3, idleLimit);
    asio::ip::tcp::socket a(io);
    asio::ip::tcp::socket b(io);
    const int aHandle = rawClient(a);
    ASSERT_GT(aHandle, 0);
    const auto idleSince = steady_clock::now();
    asio::ip::tcp::socket silent(io);
    silent.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(deskPort())});
    const int bHandle = rawClient(b);
    ASSERT_GT(bHandle, 0);

    // Full: the one still in its handshake makes room, unreported.
    vmsg::Peer first(io);
    int own = 0;
    const int firstHandle = connectClient(first, own);
    ASSERT_GT(firstHandle, 0);
    EXPECT_TRUE(closedByDesk(silent));

    // Full of logged-on clients, none idle long enough: a newcomer is closed, unanswered.
    asio::ip::tcp::socket refused(io);
    sendLogOn(refused, text(vmsg::publishedSecret()));
    std::size_t answered = 0;
    EXPECT_TRUE(closedByDesk(refused, &answered));
    EXPECT_EQ(answered, 0u) << "the newcomer got an Accept";

    // Once they are idle beyond the limit, the longest idle goes (reported lost), and the newcomer is in.
    ASSERT_TRUE(first.send(own, 205, text("busy")));
    pump([&] { return steady_clock::now() - idleSince > idleLimit + milliseconds(200); });
    const std::size_t before = notified.size();
    vmsg::Peer second(io);
    int secondOwn = 0;
    EXPECT_GT(connectClient(second, secondOwn), 0);
    ASSERT_TRUE(pump([&] { return notified.size() >= before + 2; }));
    const Notified lost = notified[before];
    EXPECT_EQ(lost.event, vmsg::eventError);
    EXPECT_EQ(lost.handle, aHandle); // idle longest
    EXPECT_TRUE(first.isOpen(own));
    EXPECT_EQ(desk.refusedLogOns(), 0u);
}
