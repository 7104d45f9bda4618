#include "PortFixture.h"

#include "vmsg/Connection.h"

#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace std::chrono;

namespace {

class GuardTest : public PortFixture
{
protected:
    // A frame of dividers only: small on the wire, large once decoded.
    static vmsg::Message dividers()
    {
        vmsg::Message m;
        for (int i = 0; i < 4096; ++i)
            m.pushDivider();
        return m;
    }

    // Points log_on at port.
    static void kernelAt(unsigned short port)
    {
        ::setenv("NORVEX_PORT_BASE", std::to_string(int(port) - instance).c_str(), 1);
    }

    // Reads from socket until the other end closes it; done is set then.
    static void watchClose(asio::ip::tcp::socket& socket, bool& done, std::vector<char>& buffer)
    {
        buffer.resize(256);
        socket.async_read_some(asio::buffer(buffer),
                               [&socket, &done, &buffer](const asio::error_code& ec, std::size_t) {
                                   if (ec)
                                       done = true;
                                   else
                                       watchClose(socket, done, buffer);
                               });
    }

    static steady_clock::duration timed(const std::function<void()>& f)
    {
        const auto start = steady_clock::now();
        f();
        return steady_clock::now() - start;
    }
};

std::size_t openDescriptors()
{
    std::size_t n = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++n;
        ::closedir(dir);
    }
    return n;
}

} // namespace

TEST_F(GuardTest, ReadingPausesByTheDecodedSizeOfWhatWaits)
{
    vmsg::Peer runner(io);
    int own = 0;
    connectClient(runner, own);
    constexpr int frames = 64; // 260 KiB on the wire, ten times that decoded
    const vmsg::Message m = dividers();
    for (int i = 0; i < frames; ++i)
        ASSERT_TRUE(runner.send(own, 1, m));
    while (io.poll() > 0) {
    }
    const std::size_t frameBytes = m.valueBytes();
    EXPECT_LE(desk.queuedBytes(), vmsg::Context::pauseBytes + frameBytes);
    EXPECT_LE(desk.queued(), vmsg::Context::pauseBytes / frameBytes + 1);

    ASSERT_TRUE(pump([&] { return received.size() == std::size_t(frames); }));
    EXPECT_EQ(desk.queuedBytes(), 0u);
}

TEST_F(GuardTest, ReadingOfAllConnectionsPausesAtTheTotalBound)
{
    const vmsg::Message m = dividers();
    const std::size_t frameBytes = m.valueBytes();
    const std::size_t total = 3 * frameBytes;
    desk.setPauseLimits(vmsg::Context::pauseMessages, vmsg::Context::pauseBytes, total);
    constexpr int runners = 3;
    constexpr int frames = 20;
    std::vector<std::unique_ptr<vmsg::Peer>> peers;
    for (int r = 0; r < runners; ++r) {
        peers.push_back(std::make_unique<vmsg::Peer>(io));
        int own = 0;
        connectClient(*peers.back(), own);
        for (int i = 0; i < frames; ++i)
            ASSERT_TRUE(peers.back()->send(own, 1, m));
    }
    while (io.poll() > 0) {
    }
    // Each connection may bring one frame after the others paused.
    EXPECT_GE(desk.queuedBytes(), total);
    EXPECT_LE(desk.queuedBytes(), total + runners * frameBytes);

    ASSERT_TRUE(pump([&] { return received.size() == std::size_t(runners * frames); }));
    EXPECT_EQ(desk.queuedBytes(), 0u);
}

TEST_F(GuardTest, SocketsProbeAVanishedPeer)
{
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    asio::ip::tcp::socket socket(io);
    socket.connect(acceptor.local_endpoint());
    vmsg::Connection connection(std::move(socket), 1, vmsg::defaultMaxMessage, nullptr);
    const int fd = connection.nativeHandle();
    auto option = [fd](int level, int name) {
        int value = -1;
        socklen_t size = sizeof value;
        EXPECT_EQ(::getsockopt(fd, level, name, &value, &size), 0);
        return value;
    };
    EXPECT_NE(option(SOL_SOCKET, SO_KEEPALIVE), 0);
    EXPECT_NE(option(IPPROTO_TCP, TCP_NODELAY), 0);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 10);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 5);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 3);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 25000);
}

TEST_F(GuardTest, LocalhostAndNumericAddressesNeedNoLookup)
{
    vmsgMsgPort port(desk);
    ASSERT_GT(port.log_on(kernelService, instance, "LocalHost", false), 0);
    ASSERT_TRUE(pump([this] { return kernelClient != 0; }));
    ASSERT_GT(port.log_on(kernelService, instance, "127.0.0.1", false), 0);
    EXPECT_EQ(desk.nameLookups(), 0u);

    const auto took = timed([&] { EXPECT_EQ(port.log_on(kernelService, instance, "no-such-host.invalid", true), 0); });
    EXPECT_EQ(desk.nameLookups(), 1u);
    EXPECT_LT(took, seconds(2) + scaled(seconds(4))); // the connect timeout and a margin
}

TEST_F(GuardTest, LogOnGivesUpOnServersThatNeverAnswer)
{
    vmsgMsgPort port(desk);
    {
        // Accepts the connection and says nothing.
        asio::ip::tcp::acceptor silent(io, {asio::ip::make_address("127.0.0.1"), 0});
        asio::ip::tcp::socket accepted(io);
        silent.async_accept(accepted, [](const asio::error_code&) {});
        kernelAt(silent.local_endpoint().port());
        int handle = -1;
        const auto took = timed([&] { handle = port.log_on(kernelService, instance, "127.0.0.1", true); });
        EXPECT_EQ(handle, 0);
        EXPECT_LT(took, seconds(2) + scaled(seconds(4)));
    }
    {
        // Never accepts: its backlog is full, so further connection requests go unanswered.
        asio::ip::tcp::acceptor full(io);
        full.open(asio::ip::tcp::v4());
        full.bind({asio::ip::make_address("127.0.0.1"), 0});
        full.listen(0);
        std::vector<std::unique_ptr<asio::ip::tcp::socket>> fillers;
        int connected = 0;
        for (int i = 0; i < 3; ++i) {
            fillers.push_back(std::make_unique<asio::ip::tcp::socket>(io));
            fillers.back()->async_connect(full.local_endpoint(), [&connected](const asio::error_code& ec) {
                if (!ec)
                    ++connected;
            });
        }
        ASSERT_TRUE(runIo([&] { return connected > 0; }));
        kernelAt(full.local_endpoint().port());
        int handle = -1;
        const auto took = timed([&] { handle = port.log_on(kernelService, instance, "127.0.0.1", true); });
        EXPECT_EQ(handle, 0);
        EXPECT_LT(took, seconds(2) + scaled(seconds(4)));
    }
    EXPECT_TRUE(notified.empty());
}

TEST_F(GuardTest, ClientsThatDoNotLogOnInTimeAreClosed)
{
    vmsg::Node::Limits limits;
    limits.handshakeTimeout = milliseconds(200);
    desk.setConnectionLimits(limits);
    asio::ip::tcp::socket raw(io);
    rawClient(raw, false);
    bool closed = false;
    std::vector<char> buffer;
    watchClose(raw, closed, buffer);
    ASSERT_TRUE(pump([&] { return closed; }, seconds(10)));
    EXPECT_TRUE(notified.empty());

    vmsg::Peer runner(io);
    int own = 0;
    EXPECT_GT(connectClient(runner, own), 0); // a client that logs on at once is kept
}

TEST_F(GuardTest, IncomingConnectionsBeyondTheCapAreRefused)
{
    vmsg::Node::Limits limits;
    limits.maxIncoming = 2;
    desk.setConnectionLimits(limits);
    asio::ip::tcp::socket first(io);
    const int handle = rawClient(first);
    ASSERT_GT(handle, 0);
    // Logged on: one still in its handshake would make room for the next.
    asio::ip::tcp::socket second(io);
    ASSERT_GT(rawClient(second), 0);
    asio::ip::tcp::socket third(io);
    rawClient(third, false);
    bool closed[3] = {false, false, false};
    std::vector<char> buffers[3];
    watchClose(first, closed[0], buffers[0]);
    watchClose(second, closed[1], buffers[1]);
    watchClose(third, closed[2], buffers[2]);
    ASSERT_TRUE(pump([&] { return closed[2]; }, seconds(10)));
    EXPECT_FALSE(closed[0]);
    EXPECT_FALSE(closed[1]);

    // A slot that comes free takes the next client.
    second.close();
    vmsg::Peer runner(io);
    int own = 0;
    EXPECT_GT(connectClient(runner, own), 0);
    EXPECT_FALSE(closed[0]);
}

TEST_F(GuardTest, AStaleKernelLossIsDroppedByTheNextLogOn)
{
    vmsgMsgPort port(desk);
    const int old = logOnKernel();
    kernel.close(kernelClient);
    ASSERT_TRUE(runIo([this] { return desk.queued() == 1; })); // the loss waits for the scheduler
    kernelClient = 0;
    const int renewed = port.log_on(kernelService, instance, "127.0.0.1", true);
    ASSERT_GT(renewed, old);
    ASSERT_TRUE(pump([this] { return kernelClient != 0; }));
    EXPECT_EQ(desk.scheduler(0), 0);
    EXPECT_TRUE(notified.empty());

    // log_off after a loss drops its report too.
    kernel.close(kernelClient);
    ASSERT_TRUE(runIo([this] { return desk.queued() == 1; }));
    port.log_off(kernelService);
    EXPECT_EQ(desk.queued(), 0u);
    EXPECT_TRUE(notified.empty());

    // A loss that nobody ends is still reported.
    kernelClient = 0;
    const int third = logOnKernel();
    kernel.close(kernelClient);
    ASSERT_TRUE(pump([this] { return !notified.empty(); }));
    EXPECT_EQ(notified[0], (Notified{third, vmsg::eventClosed, 5}));
}

TEST(Linger, AClosedConnectionWhosePeerNeverReadsLetsGoOfItsSocket)
{
    asio::io_context io;
    vmsg::Peer server(io);
    ASSERT_TRUE(server.listen("127.0.0.1", 0));
    int handle = 0;
    server.setConnectionHandler([&handle](int h, int e) {
        if (e == vmsg::eventLoggedOn)
            handle = h;
    });
    auto drive = [&io](const std::function<bool()>& done) {
        const auto deadline = steady_clock::now() + scaled(seconds(20));
        while (!done() && steady_clock::now() < deadline)
            io.run_one_for(milliseconds(5));
        return done();
    };

    asio::ip::tcp::socket raw(io);
    raw.open(asio::ip::tcp::v4());
    raw.set_option(asio::socket_base::receive_buffer_size(4096));
    raw.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(server.localPort())});
    std::vector<std::uint8_t> frame;
    vmsg::encodeFrame(vmsg::FrameType::LogOn, 1, 0, vmsg::Message(), 0, vmsg::defaultMaxMessage, frame);
    asio::write(raw, asio::buffer(frame));
    ASSERT_TRUE(drive([&handle] { return handle != 0; }));

    const std::size_t open = openDescriptors();
    vmsg::Message big;
    big.push(std::string(200000, 'x'));
    for (int i = 0; i < 400 && server.queuedBytes(handle) == 0; ++i) {
        ASSERT_TRUE(server.send(handle, 205, big));
        while (io.poll() > 0) {
        }
    }
    ASSERT_GT(server.queuedBytes(handle), 0u) << "the socket took everything";
    server.close(handle);
    EXPECT_TRUE(drive([open] { return openDescriptors() < open; }));
}
