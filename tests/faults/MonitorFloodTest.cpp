#include "tests/faults/LoadSupport.h"
#include "tests/faults/TimerGaps.h"

#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "framework/MessageBox.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/Monitor.h"
#include "res/Resource.h"
#include "tests/common/DeskFixture.h"
#include "tests/common/TestSupport.h"
#include "vmsg/Peer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;

// KelmDesk in this process, without a kernel; its clients on threads of their own or on plain sockets.
class MonitorFlood : public DeskFixture
{
protected:
    void TearDown() override
    {
        DeskFixture::TearDown();
        resetSettings();
    }

    int port() const { return std::stoi(address.substr(address.rfind(':') + 1)); }
};

// The sequence number of a console line "[time] seq N", or -1.
long long sequenceOf(const QString& line)
{
    const int at = line.lastIndexOf(QLatin1String("seq "));
    bool ok = false;
    const long long n = at < 0 ? -1 : line.mid(at + 4).toLongLong(&ok);
    return ok ? n : -1;
}

} // namespace

// A runner that prints as fast as it can: the window keeps ticking, the console keeps its last
// 100,000 lines, and every message arrives, once and in order (the sequence numbers shown).
TEST_F(MonitorFlood, AMillionMessagesIntoOneMonitorLoseNothingAndFreezeNothing)
{
    // KELMDESK_FLOOD_MESSAGES sets another count.
    const long long wanted = qEnvironmentVariableIntValue("KELMDESK_FLOOD_MESSAGES");
    const long long count = wanted > 0 ? wanted : loadCount(1000000, 30000);
    std::atomic<long long> queued{0};
    std::atomic<bool> sent{false};
    std::thread client([&] {
        vmsg::Peer peer;
        const int h = peer.connect(address, scaled(5s));
        if (!h)
            return;
        auto put = [&](int kind, const vmsg::Message& m) {
            // A full output queue means KelmDesk holds back: wait for room, never drop.
            while (!peer.send(h, kind, m) && peer.isOpen(h))
                peer.poll(2ms);
        };
        put(MonitorOpen, vmsg::Message());
        vmsg::Message name;
        name.push("flood.kelm");
        put(ProgramName, name);
        put(ExecutionStarted, vmsg::Message());
        vmsg::Message line;
        for (long long i = 0; i < count && peer.isOpen(h); ++i) {
            line.values.clear();
            line.push("seq " + std::to_string(i));
            put(PrintText, line);
            queued = i + 1;
        }
        put(ExecutionFinished, vmsg::Message());
        sent = peer.flush(h, 120s);
        peer.close(h);
        peer.flush(h, 2s);
    });

    KD_TRY_VERIFY(!app->monitors.empty(), 15000);
    MonitorRecord* r = app->monitors.front().get();
    const ConsoleLines& console = r->document->console();
    const long rssStart = residentKiB();
    long rssHalf = 0;
    long long lastSeen = -1;
    bool ordered = true;
    int maxLines = 0;
    // Looks at the console's last line now and then: what is shown only moves forward.
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
        const long long n = console.isEmpty() ? -1 : sequenceOf(console.line(console.endNumber() - 1));
        if (n >= 0) {
            ordered = ordered && n >= lastSeen;
            lastSeen = n;
        }
        maxLines = std::max(maxLines, console.size());
        if (!rssHalf && n >= count / 2)
            rssHalf = residentKiB();
    });
    watch.start();
    TimerGaps gaps;
    QElapsedTimer t;
    t.start();
    const bool finished = QTest::qWaitFor([&] { return r->state == MonitorState::Finished; }, scaledMs(300000));
    const double seconds = t.elapsed() / 1000.0;
    const double longestGap = gaps.longestMs();
    const long rssEnd = residentKiB();
    watch.stop();
    client.join();
    ASSERT_TRUE(finished) << queued << " of " << count << " queued by the client";
    EXPECT_TRUE(sent);

    // The console: "--- Started execution ---", the sequence numbers, "--- Finished normally ---",
    // of which it keeps the last lines.
    const QStringList lines = r->document->console().toPlainText().split(QLatin1Char('\n'));
    const long long total = count + 2;
    ASSERT_EQ(lines.size(), std::min<long long>(total, CMonitorDoc::MaxConsoleLines));
    EXPECT_TRUE(lines.last().endsWith(QLatin1String("--- Finished normally ---"))) << lines.last().toStdString();
    // Every line before the last is the next sequence number, each once and in order.
    const long long dropped = total - lines.size();
    long long expected = dropped == 0 ? -1 : dropped - 2;
    if (dropped == 0) {
        EXPECT_TRUE(lines.first().endsWith(QLatin1String("--- Started execution ---")));
    }
    int wrong = 0;
    for (int i = dropped == 0 ? 1 : 0; i + 1 < lines.size(); ++i) {
        ++expected;
        if (sequenceOf(lines.at(i)) != expected && wrong++ < 5)
            ADD_FAILURE() << "console line " << i << ": " << lines.at(i).toStdString() << ", expected seq " << expected;
    }
    EXPECT_EQ(expected, count - 1);
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(ordered);
    EXPECT_LE(maxLines, CMonitorDoc::MaxConsoleLines);
    // The goal is 20 ms, which a quiet machine meets (docs/reliability.md). Beside CI's other build
    // the test's thread waits for a core now and then, so this bound only catches a window that
    // freezes.
    EXPECT_LE(longestGap, scaledMs(500)) << "the window stood still";
    // The console holds its last lines only: past the cap, memory stops growing with the flood.
    if (count >= 2 * CMonitorDoc::MaxConsoleLines) {
        EXPECT_LT(rssEnd - rssHalf, 64 * 1024) << "KiB";
    }
    EXPECT_LT(rssEnd - rssStart, 512 * 1024) << "KiB";
    EXPECT_TRUE(boxes.isEmpty());
    std::printf("[ figures ] %lld messages into one monitor in %.1f s (%.0f/s); longest 10 ms timer gap %.1f ms; "
                "memory +%ld KiB at half, +%ld KiB at the end\n",
                count, seconds, count / seconds, longestGap, rssHalf - rssStart, rssEnd - rssStart);
}

// A client that never reads while KelmDesk writes to it (Stop, again and again): every write
// returns at once, the window keeps ticking, memory stays bounded, and other clients are served.
TEST_F(MonitorFlood, AClientThatNeverReadsHoldsUpNothing)
{
    RawClient deaf;
    ASSERT_TRUE(deaf.connectAndLogOn(port(), 1, 4096));
    vmsg::Message name;
    name.push("deaf.kelm");
    ASSERT_TRUE(deaf.trySend(vmsg::FrameType::Data, MonitorOpen, 0, vmsg::Message()));
    ASSERT_TRUE(deaf.trySend(vmsg::FrameType::Data, ProgramName, 0, name));
    ASSERT_TRUE(deaf.trySend(vmsg::FrameType::Data, ExecutionStarted, 0, vmsg::Message()));
    ASSERT_TRUE(deaf.finishSend(scaled(5s)));
    KD_TRY_VERIFY(!app->monitors.empty() && app->monitors.front()->state == MonitorState::Executing, 15000);
    MonitorRecord* r = app->monitors.front().get();

    // Each Stop is one small frame: this many pass the 4 MiB bound of the unsent output several times.
    const int stops = loadCount(400000, 100000);
    const long rssStart = residentKiB();
    TimerGaps gaps;
    qint64 longestCallNs = 0;
    QElapsedTimer call;
    for (int i = 0; i < stops; ++i) {
        call.start();
        SendStop(*r);
        longestCallNs = std::max(longestCallNs, call.nsecsElapsed());
        if (i % 1000 == 0)
            QCoreApplication::processEvents();
    }
    // Memory once the scheduler has tried twice to write the Stops to the client.
    QTimer* tick = app->mainFrame()->findChild<QTimer*>(QStringLiteral("schedulerTimer"));
    ASSERT_NE(tick, nullptr);
    QSignalSpy ticks(tick, &QTimer::timeout);
    KD_TRY_VERIFY(ticks.count() >= 2, 5000);
    const long rssEnd = residentKiB();

    // Another client (on a thread: KelmDesk answers from its timer) opens its monitor meanwhile.
    std::atomic<bool> done{false};
    std::atomic<int> otherHandle{0};
    std::thread other([&] {
        vmsg::Peer peer;
        const int h = peer.connect(address, scaled(5s));
        otherHandle = h;
        if (!h)
            return;
        vmsg::Message otherName;
        otherName.push("other.kelm");
        peer.send(h, MonitorOpen, vmsg::Message());
        peer.send(h, ProgramName, otherName);
        peer.flush(h, scaled(5s));
        while (!done)
            peer.poll(5ms);
    });
    const bool reached = QTest::qWaitFor(
        [&] { return app->monitors.size() == 2 && app->monitors.back()->programName == QString("other.kelm"); },
        scaledMs(15000));
    done = true;
    other.join();
    EXPECT_NE(otherHandle, 0);
    EXPECT_TRUE(reached);
    EXPECT_EQ(r->state, MonitorState::Executing);
    // Wall time: a write that waited for the client would wait for good. (A loaded machine may take the
    // CPU away for some milliseconds.)
    EXPECT_LT(longestCallNs / 1e6, scaledMs(500)) << "ms for one Stop";
    EXPECT_LT(gaps.longestMs(), scaledMs(100));
    EXPECT_LT(rssEnd - rssStart, 32 * 1024) << "KiB";
    EXPECT_TRUE(boxes.isEmpty());
    std::printf("[ figures ] %d Stop requests to a client that never reads: longest call %.2f ms, longest 10 ms timer "
                "gap %.1f ms, memory +%ld KiB\n",
                stops, longestCallNs / 1e6, gaps.longestMs(), rssEnd - rssStart);
}
