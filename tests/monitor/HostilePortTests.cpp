// KelmDesk's own port, with the application running offscreen, against peers that are not its
// runners: garbage, frames cut short or beyond the bound, LogOns without the secret, and hundreds of
// connections that never log on.
#include "app/CKelmDeskApp.h"
#include "framework/CStatusBar.h"
#include "framework/MessageBox.h"
#include "monitor/CMonitorDoc.h"
#include "protocol/ClientMessageKind.h"
#include "monitor/Monitor.h"
#include "res/Resource.h"
#include "tests/common/RawSocket.h"
#include "tests/common/DeskFixture.h"
#include "tests/common/TestSupport.h"
#include "tests/monitor/ScriptedClient.h"
#include "protocol/Address.h"
#include "vmsg/Secret.h"
#include "vmsg/vmsg.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono;

void events()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool sanitized()
{
    const char* value = std::getenv("KELMDESK_SANITIZED");
    return value && std::string(value) == "1";
}

// Info lines logged while a test runs; every line still goes to the handler before.
QStringList infoLines;
QtMessageHandler previousHandler = nullptr;

void keepInfo(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtInfoMsg)
        infoLines.append(text);
    if (previousHandler)
        previousHandler(type, context, text);
}

class HostilePort : public DeskFixture
{
protected:
    void SetUp() override
    {
        infoLines.clear();
        previousHandler = qInstallMessageHandler(keepInfo);
        DeskFixture::SetUp();
        if (HasFatalFailure())
            return;
        std::string host;
        ASSERT_TRUE(protocol::splitHostPort(address, host, port));
    }

    void TearDown() override
    {
        runner.reset();
        DeskFixture::TearDown();
        qInstallMessageHandler(previousHandler);
    }

    // A runner stand-in whose monitor is open.
    void startRunner()
    {
        runner = std::make_unique<ScriptedClient>(address);
        runner->send(MonitorOpen, 0);
        runner->sendText(ProgramName, 0, "tank.kelm");
        KD_TRY_COMPARE(app->monitors.size(), std::size_t(1), 15000);
    }

    // The console of the runner's monitor shows text once it is sent.
    bool consoleShows(const std::string& text)
    {
        runner->sendText(PrintText, 1, text + "\n");
        return QTest::qWaitFor(
            [&] { return app->monitors[0]->document->console().toPlainText().contains(QString::fromStdString(text)); },
            scaledMs(15000));
    }

    static vmsg::Message secret(const std::string& text = vmsg::publishedSecret())
    {
        vmsg::Message m;
        m.push(text);
        return m;
    }

    std::unique_ptr<ScriptedClient> runner;
    int port = 0;
};

std::vector<std::uint8_t> lengthOnly(std::uint32_t length)
{
    std::vector<std::uint8_t> bytes = RawSocket::frame(vmsg::FrameType::Data, PrintText);
    for (std::size_t i = 0; i < 4; ++i)
        bytes[4 + i] = std::uint8_t(length >> (24 - 8 * i));
    return bytes;
}

} // namespace

TEST_F(HostilePort, PeersThatBreakTheProtocolAreClosedAndNeverShown)
{
    startRunner();
    const QString clientsPane = app->statusBar()->paneText(Pane::Clients);
    const std::size_t refusedBefore = vmsgRefusedLogOns();
    std::string wrong = vmsg::publishedSecret();
    wrong[0] = wrong[0] == 'a' ? 'b' : 'a';

    vmsg::Message text;
    text.push(std::string("<b>console</b>"));
    std::vector<std::uint8_t> badTag = RawSocket::frame(vmsg::FrameType::Data, PrintText, text);
    badTag[vmsg::frameHeaderSize] = 'q';
    const std::vector<std::uint8_t> whole = RawSocket::frame(vmsg::FrameType::Data, MonitorOpen);
    const std::string http = "GET / HTTP/1.0\r\n\r\n";
    const std::vector<std::uint8_t> openWithout = RawSocket::frame(vmsg::FrameType::LogOn, 1);

    struct Case
    {
        const char* what;
        const vmsg::Message* logOn; // null: none
        std::vector<std::uint8_t> bytes;
        bool cutOff;
    };
    const vmsg::Message right = secret();
    const std::vector<Case> cases = {
        {"garbage", nullptr, {http.begin(), http.end()}, false},
        {"a LogOn without the secret, then a monitor request", nullptr, openWithout, false},
        {"a length of 2 GiB", &right, lengthOnly(0x7fffffff), false},
        {"a length beyond the bound", &right, lengthOnly(262145), false},
        {"an unknown tag", &right, badTag, false},
        {"a frame cut off by the end of the connection", &right, {whole.begin(), whole.end() - 1}, true},
    };
    for (const Case& c : cases) {
        RawSocket raw(events);
        ASSERT_TRUE(raw.connect(port)) << c.what;
        if (c.logOn) {
            ASSERT_TRUE(raw.logOn(*c.logOn, scaled(seconds(5)))) << c.what;
        }
        ASSERT_TRUE(raw.send(c.bytes)) << c.what;
        if (c.cutOff)
            raw.shutdownSending();
        EXPECT_TRUE(raw.closedWithin(scaled(seconds(5)))) << c.what;
    }
    // A wrong secret never sees an Accept, whatever it sends behind the LogOn.
    {
        RawSocket raw(events);
        ASSERT_TRUE(raw.connect(port));
        EXPECT_FALSE(raw.logOn(secret(wrong), scaled(seconds(10))));
        EXPECT_TRUE(raw.closedWithin(scaled(seconds(5))));
    }
    EXPECT_EQ(vmsgRefusedLogOns() - refusedBefore, 2u);
    // The log says that they came, with the count of this tick and of all.
    const QRegularExpression refusal(
        QStringLiteral("^kelmdesk: refused (\\d+) connection\\(s\\) without the port secret \\((\\d+) in all\\)$"));
    auto loggedRefusals = [&] {
        std::size_t sum = 0;
        for (const QString& line : infoLines) {
            if (const QRegularExpressionMatch m = refusal.match(line); m.hasMatch()) {
                sum += m.captured(1).toULongLong();
                EXPECT_LE(m.captured(2).toULongLong(), vmsgRefusedLogOns()) << line.toStdString();
            }
        }
        return sum;
    };
    KD_TRY_VERIFY(loggedRefusals() == 2u, 3000);
    EXPECT_EQ(app->monitors.size(), 1u);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    EXPECT_TRUE(consoleShows("the runner carries on"));

    // The refused never reached the Clients pane; the ones with the secret did, as clients that left.
    // KelmDesk has taken this refusal in once it has counted it.
    RawSocket raw(events);
    ASSERT_TRUE(raw.connect(port));
    ASSERT_TRUE(raw.send(openWithout));
    EXPECT_TRUE(raw.closedWithin(scaled(seconds(5))));
    KD_TRY_VERIFY(vmsgRefusedLogOns() - refusedBefore == 3u, 5000);
    EXPECT_NE(app->statusBar()->paneText(Pane::Clients), clientsPane);
    EXPECT_TRUE(app->statusBar()->paneText(Pane::Clients).startsWith("Client disconnected"));
}

TEST_F(HostilePort, HundredsOfIdleConnectionsNeitherStallKelmDeskNorKeepARunnerOut)
{
    const int count = sanitized() ? 300 : 500;
    // The longest gap between the ticks of a 10 ms timer of the window's thread.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    ticker.start(10);
    last = clock.elapsed();

    // Opened from another thread, as other processes would: this one only runs KelmDesk's loop.
    std::vector<std::unique_ptr<RawSocket>> idle;
    std::atomic<int> opened{0};
    std::thread opener([&] {
        for (int i = 0; i < count; ++i) {
            idle.push_back(std::make_unique<RawSocket>());
            if (idle.back()->connect(port))
                ++opened;
        }
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return opened == count; }, scaledMs(20000)));
    opener.join();
    ASSERT_EQ(opened, count);
    // A LogOn without the secret on a connection opened after them all: once KelmDesk has refused it,
    // it has taken in every connection before it.
    const std::size_t refusedBefore = vmsgRefusedLogOns();
    RawSocket probe;
    ASSERT_TRUE(probe.connect(port));
    ASSERT_TRUE(probe.send(RawSocket::frame(vmsg::FrameType::LogOn, 1)));
    KD_TRY_VERIFY(vmsgRefusedLogOns() > refusedBefore, 20000);
    const qint64 openedAt = clock.elapsed();
    startRunner();
    const qint64 runnerIn = clock.elapsed() - openedAt;
    EXPECT_TRUE(consoleShows("in among the idle"));
    ticker.stop();

    RecordProperty("connections", count);
    RecordProperty("longest_tick_gap_ms", int(longest));
    RecordProperty("runner_monitor_ms", int(runnerIn));
    std::printf("%d idle connections: longest tick gap %lld ms, runner's monitor after %lld ms\n", count,
                static_cast<long long>(longest), static_cast<long long>(runnerIn));
    EXPECT_LT(longest, scaledMs(500));
    // The handshake deadline itself: a runner kept out until one passes takes longer, however fast.
    EXPECT_LT(runnerIn, 5000) << "the runner waited for a handshake deadline";
    EXPECT_EQ(app->monitors.size(), 1u);
    EXPECT_EQ(app->statusBar()->paneText(Pane::Clients).count("New client"), 1);

    // None of them ever logged on: every one is closed by the handshake deadline at the latest.
    std::size_t closed = 0;
    const bool allClosed = QTest::qWaitFor(
        [&] {
            closed = std::size_t(std::count_if(idle.begin(), idle.end(), [](auto& s) { return s->closedNow(); }));
            return closed == idle.size();
        },
        scaledMs(10000));
    EXPECT_TRUE(allClosed);
    EXPECT_EQ(closed, idle.size());
}
