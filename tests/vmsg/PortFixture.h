#pragma once

#include "vmsg/Context.h"
#include "vmsg/Frame.h"
#include "vmsg/Peer.h"
#include "vmsg/Secret.h"
#include "vmsg/vmsg.h"
#include "tests/common/TimeScale.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

// Both ends on one io_context and one thread: a desk context with its own port, and a kernel peer
// listening on base + instance. Everything is driven through the desk's scheduler, without sleeps.
class PortFixture : public ::testing::Test
{
protected:
    static constexpr int instance = 7;
    static constexpr int kernelService = 65536;

    struct Received
    {
        int handle;
        int kind;
        double timeStamp;
        std::vector<vmsg::Value> values;
    };
    struct Notified
    {
        int handle;
        int event;
        long user;
        bool operator==(const Notified& o) const { return handle == o.handle && event == o.event && user == o.user; }
    };

    void SetUp() override
    {
        ASSERT_TRUE(kernel.listen("127.0.0.1", 0));
        ::setenv("NORVEX_PORT_BASE", std::to_string(kernel.localPort() - instance).c_str(), 1);
        desk.configure(262144, 2);
        ASSERT_FALSE(desk.address().empty());
        desk.registerClientNotify([this](int h, int e, long u) { notified.push_back({h, e, u}); }, 5);
        desk.registerNonReply([this](int kind, vmsgMsgPort* m) {
            received.push_back({m->handle(), kind, m->timeStamp(), m->message().values});
        });
        kernel.setConnectionHandler([this](int h, int e) {
            kernelEvents.push_back({h, e, 0});
            if (e == vmsg::eventLoggedOn)
                kernelClient = h;
        });
        kernel.setMessageHandler([this](vmsg::Message& m) { onKernelMessage(m); });
    }

    void TearDown() override { ::unsetenv("NORVEX_PORT_BASE"); }

    // Default kernel: answers status requests (kind 32) with "rviv", keeps everything else.
    std::function<void(vmsg::Message&)> onKernelMessage = [this](vmsg::Message& m) {
        if (m.kind == 32 && m.requestId) {
            vmsg::Message status;
            status.push(12.5);
            status.pushDivider();
            status.push(1);
            status.pushDivider();
            kernel.reply(m, status);
            return;
        }
        kernelInbox.push_back(std::move(m));
    };

    // Runs the desk's scheduler until done() holds; false after a generous deadline (scaled).
    bool pump(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(20))
    {
        const auto deadline = std::chrono::steady_clock::now() + scaled(limit);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            if (desk.scheduler(0) == 0)
                io.run_one_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Network work only, no delivery: until done() or a generous deadline.
    bool runIo(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + scaled(std::chrono::seconds(20));
        while (!done() && std::chrono::steady_clock::now() < deadline)
            io.run_one_for(std::chrono::milliseconds(5));
        return done();
    }

    int logOnKernel()
    {
        vmsgMsgPort port(desk);
        const int handle = port.log_on(kernelService, instance, "127.0.0.1", true);
        EXPECT_GT(handle, 0);
        EXPECT_TRUE(pump([this] { return kernelClient != 0; }));
        return handle;
    }

    int deskPort() const
    {
        std::string host;
        int port = 0;
        protocol::splitHostPort(desk.address(), host, port);
        return port;
    }

    // A client peer logged on to the desk; returns the handle the desk reported for it.
    int connectClient(vmsg::Peer& client, int& clientHandle)
    {
        const std::size_t before = notified.size();
        clientHandle = client.connect(desk.address());
        EXPECT_GT(clientHandle, 0);
        if (!pump([&] { return notified.size() > before; }))
            return 0;
        EXPECT_EQ(notified.back().event, vmsg::eventLoggedOn);
        return notified.back().handle;
    }

    // A raw socket, optionally logged on (then returns the desk's handle for it).
    int rawClient(asio::ip::tcp::socket& socket, bool logOn = true)
    {
        socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(deskPort())});
        if (!logOn)
            return 0;
        std::vector<std::uint8_t> frame;
        vmsg::Message secret; // the port admits only holders of the published secret
        secret.push(vmsg::publishedSecret());
        vmsg::encodeFrame(vmsg::FrameType::LogOn, 1, 0, secret, 0, vmsg::defaultMaxMessage, frame);
        asio::write(socket, asio::buffer(frame));
        const std::size_t before = notified.size();
        if (!pump([&] { return notified.size() > before; }))
            return 0;
        return notified.back().handle;
    }

    static vmsg::Message values(std::initializer_list<int> ints)
    {
        vmsg::Message m;
        for (int i : ints)
            m.push(i);
        return m;
    }

    asio::io_context io;
    vmsg::Context desk{io};
    vmsg::Peer kernel{io};
    int kernelClient = 0;
    std::vector<Received> received;
    std::vector<Notified> notified;
    std::vector<Notified> kernelEvents;
    std::vector<vmsg::Message> kernelInbox;
};
