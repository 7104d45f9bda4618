#include "tests/common/ChildProcess.h"
#include "tests/e2e/SimDeskFixture.h"
#include "tests/faults/LoadSupport.h"
#include "tests/faults/TimerGaps.h"

#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "framework/CStatusBar.h"
#include "framework/MessageBox.h"
#include "kernel/KernelConnection.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/Monitor.h"
#include "res/Resource.h"
#include "tests/common/TestSupport.h"
#include "vmsg/Peer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

namespace {

using namespace std::chrono_literals;

// KelmDesk in this process, norvexsim and the runner kelm as real processes.
class DeskFaults : public SimDeskFixture
{
protected:
    void SetUp() override
    {
        SimDeskFixture::SetUp();
        if (HasFatalFailure())
            return;
        address = qgetenv("VMSG_ADDRESS").toStdString();
        ASSERT_FALSE(address.empty());
        ASSERT_TRUE(waitFor([&] { return pane(Pane::KernelState) == "Running"; }))
            << pane(Pane::KernelState).toStdString();
    }

    void TearDown() override
    {
        for (auto& runner : runners) {
            if (runner->state() != QProcess::NotRunning) {
                runner->kill();
                runner->waitForFinished(10000);
            }
        }
        runners.clear();
        SimDeskFixture::TearDown();
    }

    QString pane(int index) const { return app->statusBar()->paneText(index); }

    // A runner started as KelmDesk starts it, but with its process kept here: its exit is checked.
    QProcess* startRunner(const QString& name, const QByteArray& program)
    {
        const QString path = writeFile(name, program);
        runners.push_back(std::make_unique<QProcess>());
        QProcess* p = runners.back().get();
        // KelmDesk's own environment carries the port's address (and what else a runner needs).
        endWithTest(*p);
        p->setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->setStandardOutputFile(QProcess::nullDevice());
        p->start(QStringLiteral(KELM_PATH),
                 {"-npstatus", "-host", "127.0.0.1", "-instance", "norvex:0", QDir::toNativeSeparators(path)});
        EXPECT_TRUE(p->waitForStarted(scaledMs(10000)));
        return p;
    }

    // Runs the event loop meanwhile: KelmDesk answers a runner only from its timer.
    static bool finished(QProcess* p, int timeoutMs)
    {
        return waitFor([p] { return p->state() == QProcess::NotRunning; }, timeoutMs);
    }

    MonitorRecord* monitorOf(const QString& name)
    {
        for (auto& r : app->monitors) {
            if (r->programName && *r->programName == name)
                return r.get();
        }
        return nullptr;
    }

    std::string address;
    std::vector<std::unique_ptr<QProcess>> runners;
};

} // namespace

// A runner killed mid-run (SIGKILL: no goodbye of any kind) ends its monitor with the abnormal line;
// the kernel keeps serving the next runner.
TEST_F(DeskFaults, ARunnerKilledMidRunEndsItsMonitorAbnormally)
{
    QProcess* runner = startRunner("victim.kelm", "after (0) send(ModelRun)\nafter (100000) stop\n");
    MonitorRecord* r = nullptr;
    ASSERT_TRUE(waitFor([&] { return (r = monitorOf("victim.kelm")) && r->state == MonitorState::Executing; }, 30000));
    QElapsedTimer t;
    t.start();
    runner->kill();
    ASSERT_TRUE(finished(runner, 10000));
    EXPECT_EQ(runner->exitStatus(), QProcess::CrashExit);
    EXPECT_TRUE(waitFor([&] { return r->state == MonitorState::Finished; }, 30000));
    const qint64 ms = t.elapsed();
    EXPECT_TRUE(consoleText(r).endsWith("[??:??:??] --- Program terminated abnormally ---"))
        << consoleText(r).toStdString();
    EXPECT_FALSE(consoleText(r).contains("Finished normally"));
    // The simulator sees the client go: a close, or a reset when the runner died with replies unread.
    EXPECT_TRUE(waitFor([&] {
        const QString log = sim->log();
        return log.contains(QLatin1String(" left")) || log.contains(QLatin1String(" lost (error)"));
    })) << sim->log().right(600).toStdString();

    QProcess* next = startRunner("next.kelm", "after (0) {LC101:OP} = 5\nafter (1) stop\n");
    ASSERT_TRUE(finished(next, 30000));
    EXPECT_EQ(next->exitCode(), 0);
    EXPECT_TRUE(
        waitFor([&] { return monitorOf("next.kelm") && monitorOf("next.kelm")->state == MonitorState::Finished; }));
    EXPECT_TRUE(consoleText(monitorOf("next.kelm")).contains("--- Finished normally ---"));
    std::printf("[ figures ] runner killed: monitor finished abnormally after %lld ms\n", static_cast<long long>(ms));
}

// The kernel dies under a running program and KelmDesk: the panes reset, the runner reports the lost
// kernel and ends with 3 (its monitor abnormally), and once a kernel is back a log-on and a new run
// work as before.
TEST_F(DeskFaults, AKernelKilledAndRestartedIsLoggedOnAgainAndRunsANewProgram)
{
    QProcess* runner = startRunner("long.kelm", "after (0) send(ModelRun)\nafter (100000) stop\n");
    ASSERT_TRUE(waitFor(
        [&] { return monitorOf("long.kelm") && monitorOf("long.kelm")->state == MonitorState::Executing; }, 30000));
    MonitorRecord* r = monitorOf("long.kelm");

    QElapsedTimer t;
    t.start();
    sim->kill();
    EXPECT_TRUE(waitFor([&] { return pane(Pane::KernelState) == "Not logged on"; }));
    const qint64 paneMs = t.elapsed();
    EXPECT_EQ(pane(Pane::KernelTime), QStringLiteral("               00:00:00"));
    EXPECT_FALSE(IsLoggedOn());
    ASSERT_TRUE(finished(runner, 30000));
    const qint64 runnerMs = t.elapsed();
    EXPECT_EQ(runner->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(runner->exitCode(), 3);
    EXPECT_TRUE(waitFor([&] { return r->state == MonitorState::Finished; }));
    EXPECT_TRUE(consoleText(r).contains("Lost the connection to the kernel: ")) << consoleText(r).toStdString();
    EXPECT_TRUE(consoleText(r).endsWith("--- Program terminated abnormally ---")) << consoleText(r).toStdString();

    startSim();
    ASSERT_TRUE(LogOnKernel(QStringLiteral("127.0.0.1"), 0, false));
    EXPECT_TRUE(waitFor([&] { return pane(Pane::KernelState) == "Running"; })) << pane(Pane::KernelState).toStdString();
    QProcess* second = startRunner("short.kelm", "after (0) {LC101:OP} = 42\nafter (1) stop\n");
    ASSERT_TRUE(finished(second, 30000));
    EXPECT_EQ(second->exitCode(), 0);
    MonitorRecord* s = nullptr;
    ASSERT_TRUE(waitFor([&] { return (s = monitorOf("short.kelm")) && s->state == MonitorState::Finished; }));
    EXPECT_TRUE(consoleText(s).contains("{LC101:OP} = 42")) << consoleText(s).toStdString();
    EXPECT_TRUE(consoleText(s).contains("--- Finished normally ---"));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    std::printf("[ figures ] kernel killed: panes reset after %lld ms, runner ended (3) after %lld ms\n",
                static_cast<long long>(paneMs), static_cast<long long>(runnerMs));
}

// Fifty runners at once, each writing its own value: fifty monitors, each finished normally and
// showing its own value only.
TEST_F(DeskFaults, FiftyRunnersAtOnceEachReachTheirOwnMonitor)
{
    const int count = loadCount(50, 20);
    TimerGaps gaps;
    QElapsedTimer t;
    t.start();
    for (int i = 1; i <= count; ++i) {
        startRunner(
            QStringLiteral("p%1.kelm").arg(i),
            QStringLiteral("after (0) {LC101:OP} = %1\nafter (0) {LC101:OP} = %1\nafter (1) stop\n").arg(i).toUtf8());
    }
    for (auto& runner : runners) {
        ASSERT_TRUE(finished(runner.get(), 60000));
        EXPECT_EQ(runner->exitCode(), 0);
    }
    ASSERT_TRUE(waitFor(
        [&] {
            return int(app->monitors.size()) == count &&
                   std::all_of(app->monitors.begin(), app->monitors.end(),
                               [](const auto& r) { return r->state == MonitorState::Finished; });
        },
        30000))
        << app->monitors.size() << " monitors";
    const qint64 ms = t.elapsed();
    const QRegularExpression written(QStringLiteral("\\{LC101:OP\\} = (\\d+)"));
    for (int i = 1; i <= count; ++i) {
        const MonitorRecord* r = monitorOf(QStringLiteral("p%1.kelm").arg(i));
        ASSERT_NE(r, nullptr) << "no monitor for program " << i;
        const QString text = consoleText(r);
        int own = 0;
        for (auto it = written.globalMatch(text); it.hasNext();) {
            const int value = it.next().captured(1).toInt();
            EXPECT_EQ(value, i) << "program " << i << "'s monitor shows " << value;
            own += value == i;
        }
        EXPECT_EQ(own, 2) << text.toStdString();
        EXPECT_TRUE(text.contains("--- Finished normally ---")) << text.toStdString();
        EXPECT_FALSE(text.contains("abnormally")) << text.toStdString();
    }
    EXPECT_LT(gaps.longestMs(), scaledMs(500));
    std::printf("[ figures ] %d runners: all monitors finished in %lld ms; longest 10 ms timer gap %.1f ms\n", count,
                static_cast<long long>(ms), gaps.longestMs());
}
