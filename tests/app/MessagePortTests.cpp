#include "app/CKelmDeskApp.h"
#include "core/CSettingsKey.h"
#include "framework/CStatusBar.h"
#include "res/Resource.h"
#include "vmsg/Peer.h"

#include "tests/common/QtPrinting.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

// A client on its own thread, as a runner would be in its own process.
class Client
{
public:
    void start(const std::string& address)
    {
        m_thread = std::thread([this, address] {
            vmsg::Peer peer;
            handle = peer.connect(address, std::chrono::seconds(5));
            connected = true;
            while (!leave)
                peer.poll(std::chrono::milliseconds(10));
            if (handle)
                peer.close(handle);
            peer.flush(handle, std::chrono::seconds(1));
        });
    }
    ~Client()
    {
        leave = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::atomic<int> handle{0};
    std::atomic<bool> connected{false};
    std::atomic<bool> leave{false};

private:
    std::thread m_thread;
};

// Start-up opens the port for clients and registers the handlers; the frame's timer delivers.
TEST(MessagePort, ClientsLoggingOnAndLeavingShowInPaneOne)
{
    resetSettings();
    CKelmDeskApp app;
    ASSERT_TRUE(app.initInstance({QStringLiteral("kelmdesk")}));
    const QByteArray address = qgetenv("VMSG_ADDRESS");
    ASSERT_TRUE(address.startsWith("127.0.0.1:")) << address.toStdString();

    Client client;
    client.start(address.toStdString());
    CStatusBar* bar = app.statusBar();
    KD_TRY_VERIFY(bar->paneText(Pane::Clients).startsWith(QStringLiteral("New client logged on socket ")), 10000);
    const QString socket = bar->paneText(Pane::Clients).mid(QStringLiteral("New client logged on socket ").size());
    EXPECT_GT(socket.toInt(), 0);
    // The client counts itself logged on once the Accept is back, which may be after the pane shows it.
    KD_TRY_VERIFY(client.connected, 10000);

    client.leave = true;
    KD_TRY_COMPARE(bar->paneText(Pane::Clients), QStringLiteral("Client disconnected on socket ") + socket, 10000);
    EXPECT_EQ(bar->paneText(Pane::KernelState), QStringLiteral("Not logged on      "))
        << "a client's departure is not the kernel's";
}

} // namespace
