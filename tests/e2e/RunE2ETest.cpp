#include "tests/e2e/SimDeskFixture.h"

#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "editor/CEditorDoc.h"
#include "editor/CEditorView.h"
#include "framework/CChildFrame.h"
#include "framework/CommandIds.h"
#include "framework/MessageBox.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CTrendPane.h"
#include "monitor/LiveLines.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorText.h"
#include "monitor/RunRecord.h"
#include "res/Resource.h"
#include "tests/common/TestSupport.h"
#include "vmsg/Peer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineSeries>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTest>
#include <QTextDocument>

#include <algorithm>
#include <csignal>

namespace {

using namespace std::chrono_literals;

// KelmDesk in this process, norvexsim and the runner kelm as real processes: the road of a run from
// the Run command to the finished monitor.
class RunE2ETest : public SimDeskFixture
{
protected:
    CEditorDoc* openProgram(const QString& name, const QByteArray& text)
    {
        auto* doc = qobject_cast<CEditorDoc*>(app->openDocumentFile(writeFile(name, text)));
        EXPECT_NE(doc, nullptr);
        if (doc)
            app->mainFrame()->mdiArea()->setActiveSubWindow(doc->frames().value(0));
        return doc;
    }

    static QByteArray example(const char* name)
    {
        QFile f(QStringLiteral(EXAMPLES_DIR "/") + QLatin1String(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    MonitorRecord* waitForMonitor()
    {
        waitFor([&] { return !app->monitors.empty(); }, 30000);
        return app->monitors.empty() ? nullptr : app->monitors.front().get();
    }

    // With KELMDESK_SCREENSHOT_DIR set, the main window is saved there as name.png, to look at.
    void screenshot(const QString& name)
    {
        const QString dir = qEnvironmentVariable("KELMDESK_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        app->mainFrame()->resize(1100, 760);
        QCoreApplication::processEvents();
        app->mainFrame()->grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
    }

    // A tag's value as the simulator holds it, read through a client of its own.
    double readTag(const std::string& name)
    {
        vmsg::Peer peer;
        const int h = peer.connect("127.0.0.1", base, 5s);
        if (!h)
            return -1e300;
        vmsg::Message request;
        request.push(name);
        std::unique_ptr<vmsg::Message> reply = peer.request(h, 50, request, 5s);
        int code = -1, type = 0;
        double value = -1e300;
        if (reply && reply->pop(code) && code == 0 && reply->pop(type) && !reply->pop(value)) {
            int whole = 0;
            if (reply->pop(whole))
                value = whole;
        }
        peer.close(h);
        return value;
    }
};

TEST_F(RunE2ETest, RunShowsTheListingWithTimesAndDrivesThePlant)
{
    const QByteArray program = example("tank.kelm");
    ASSERT_FALSE(program.isEmpty());
    CEditorDoc* doc = openProgram(QStringLiteral("tank.kelm"), program);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(triggerAction(Cmd::Run));

    MonitorRecord* r = waitForMonitor();
    ASSERT_NE(r, nullptr);
    const int lines = static_cast<int>(program.count('\n'));
    EXPECT_TRUE(waitFor([&] { return static_cast<int>(r->lineStarts.size()) == lines; }));
    EXPECT_TRUE(waitFor([&] { return r->document->title() == "tank.kelm - Executing"; }, 30000))
        << r->document->title().toStdString();
    EXPECT_TRUE(waitFor([&] { return readTag("FV101:POS") == 100; }, 30000)) << "the inlet valve opens";
    screenshot(QStringLiteral("monitor-running"));

    EXPECT_TRUE(waitFor([&] { return r->state == MonitorState::Finished; }, 120000)) << consoleText(r).toStdString();
    EXPECT_EQ(r->document->title(), "tank.kelm - Finished");
    screenshot(QStringLiteral("monitor-finished"));
    EXPECT_TRUE(consoleText(r).contains("--- Started execution ---"));
    EXPECT_TRUE(consoleText(r).contains("--- Finished normally ---")) << consoleText(r).toStdString();
    EXPECT_FALSE(consoleText(r).contains("abnormally"));
    EXPECT_EQ(readTag("FV101:POS"), 0) << "the program closed the inlet valve";
    EXPECT_EQ(readTag("P101:RUN"), 0);

    // The trend: the level rose to 3, and line 9 fired at the look where it passed 3.
    const RunRecord& run = r->document->record();
    const int level = int(run.tags().indexOf(QStringLiteral("T101:LEVEL")));
    ASSERT_GE(level, 0) << run.tags().join(QLatin1Char(' ')).toStdString();
    const auto line9 = std::find_if(run.firings().begin(), run.firings().end(),
                                    [](const RunRecord::Firing& f) { return f.line == 9; });
    ASSERT_NE(line9, run.firings().end());
    const std::vector<RunRecord::Point> before = run.points(level, run.firstTime(), line9->time - 0.5);
    const std::vector<RunRecord::Point> after = run.points(level, line9->time, run.lastTime());
    ASSERT_GE(before.size(), 2u);
    ASSERT_FALSE(after.empty());
    EXPECT_LT(before.front().value, before.back().value) << "the level rises";
    for (const RunRecord::Point& p : before)
        EXPECT_LE(p.value, 3.0) << "at " << p.time << ", before line 9 fired at " << line9->time;
    EXPECT_GT(after.front().value, 3.0);
    CTrendPane* trend = app->mainFrame()->findChild<CTrendPane*>();
    ASSERT_NE(trend, nullptr);
    trend->redraw();
    ASSERT_NE(trend->curve(level), nullptr);
    EXPECT_FALSE(trend->curve(level)->points().isEmpty());
    EXPECT_GE(trend->markerX(int(line9 - run.firings().begin())), 0) << "line 9's marker is in view";

    // Every statement line got its time; comment lines kept their blank slot.
    QTextDocument* listing = r->document->listing();
    const QList<QByteArray> source = program.split('\n');
    for (int k = 1; k <= lines; ++k) {
        const QString text = listing->findBlockByNumber(k - 1).text();
        const QByteArray original = source.at(k - 1).trimmed();
        const bool statement = !original.isEmpty() && !original.startsWith('*') && !original.startsWith("//");
        EXPECT_TRUE(text.endsWith(QString::fromUtf8(source.at(k - 1)))) << text.toStdString();
        if (statement)
            EXPECT_TRUE(text.left(8).contains(':')) << "line " << k << ": " << text.toStdString();
        else
            EXPECT_EQ(text.left(8), QString(8, ' ')) << "line " << k;
    }
}

TEST_F(RunE2ETest, StopEndsARunningProgram)
{
    openProgram(QStringLiteral("long.kelm"), "after (0) send(ModelRun)\nafter (100000) stop\n");
    ASSERT_TRUE(triggerAction(Cmd::Run));
    MonitorRecord* r = waitForMonitor();
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(waitFor([&] { return r->state == MonitorState::Executing; }, 30000));
    app->mainFrame()->mdiArea()->setActiveSubWindow(r->document->frames().value(0));
    ASSERT_TRUE(triggerAction(Cmd::Stop));
    EXPECT_TRUE(waitFor([&] { return r->state == MonitorState::Finished; }, 30000));
    EXPECT_TRUE(consoleText(r).contains("Stopped by request")) << consoleText(r).toStdString();
    EXPECT_TRUE(consoleText(r).contains("--- Finished normally ---"));
    EXPECT_FALSE(actionEnabled(Cmd::Stop));
}

TEST_F(RunE2ETest, ParseOfAFaultyFilePutsTheCaretOnTheFaultyLine)
{
    CEditorDoc* doc = openProgram(QStringLiteral("broken.kelm"), example("broken.kelm"));
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(triggerAction(Cmd::Parse));
    ASSERT_TRUE(waitFor([&] { return !boxes.isEmpty(); }, 30000));
    EXPECT_TRUE(boxes.first().contains("Operation keyword not recognized.")) << boxes.first().toStdString();
    EXPECT_TRUE(waitFor([&] { return doc->currentView()->textCursor().blockNumber() == 3; }))
        << "caret on line 4, the first faulty one; it is on line "
        << doc->currentView()->textCursor().blockNumber() + 1;
    EXPECT_TRUE(app->monitors.empty()) << "a parse opens no monitor";
}

TEST_F(RunE2ETest, KilledRunnerFinishesTheMonitorAbnormally)
{
    CEditorDoc* doc = openProgram(QStringLiteral("victim.kelm"), "after (0) send(ModelRun)\nafter (100000) stop\n");
    ASSERT_TRUE(triggerAction(Cmd::Run));
    MonitorRecord* r = waitForMonitor();
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(waitFor([&] { return r->state == MonitorState::Executing; }, 30000));
    // KelmDesk keeps no handle to the runner: find it by its program path.
    QProcess pkill;
    pkill.start(QStringLiteral("pkill"), {QStringLiteral("-KILL"), QStringLiteral("-f"), doc->pathName()});
    ASSERT_TRUE(pkill.waitForFinished(10000));
    ASSERT_EQ(pkill.exitCode(), 0) << "no runner process found";
    EXPECT_TRUE(waitFor([&] { return r->state == MonitorState::Finished; }, 30000));
    EXPECT_TRUE(consoleText(r).endsWith("[??:??:??] --- Program terminated abnormally ---"))
        << consoleText(r).toStdString();
    EXPECT_FALSE(consoleText(r).contains("Finished normally"));
}

} // namespace

// The live state beside the listing, from a real runner and kernel: a when line shows the rising
// level and "false" until it fires, a countdown stands while the kernel is paused, and the end marks
// what never fired.
TEST_F(RunE2ETest, TheMonitorShowsWhatEachLineWaitsForAndHowFarAwayItIs)
{
    openProgram(QStringLiteral("live.kelm"), "* live.kelm\n"
                                             "after (0) send(ModelRun)\n"
                                             "after (0) {LC101:OP} = 10\n"
                                             "after (0) {FV101:POS} = 100\n"
                                             "when ({T101:LEVEL} > 3) {FV101:POS} = 0\n"
                                             "after (36000) stop\n"
                                             "when ({P101:RUN} == 5) stop\n");
    ASSERT_TRUE(triggerAction(Cmd::Run));
    MonitorRecord* r = waitForMonitor();
    ASSERT_NE(r, nullptr);
    const LiveLines& live = r->document->live();
    const QString waiting = QStringLiteral("T101:LEVEL ");
    ASSERT_TRUE(waitFor([&] { return live.text(5).startsWith(waiting); }, 30000)) << live.text(5).toStdString();
    const QString first = live.text(5);
    EXPECT_TRUE(first.endsWith(QStringLiteral("false"))) << first.toStdString();
    EXPECT_TRUE(waitFor([&] { return live.text(5).startsWith(waiting) && live.text(5) != first; }, 30000))
        << "the level rises: " << first.toStdString();
    EXPECT_TRUE(live.text(6).startsWith(QStringLiteral("in "))) << live.text(6).toStdString();
    EXPECT_EQ(live.text(4), QStringLiteral("wrote 100"));
    screenshot(QStringLiteral("monitor-live-running"));

    ::kill(static_cast<pid_t>(sim->pid()), SIGUSR2);
    ASSERT_TRUE(waitFor([&] { return live.kernelNotice() == MonitorText::kernelPausedNotice; }, 30000));
    const QString stood = live.text(6);
    QTest::qWait(1500);
    EXPECT_EQ(live.text(6), stood) << "the countdown stands while the kernel is paused";
    screenshot(QStringLiteral("monitor-live-paused"));

    ::kill(static_cast<pid_t>(sim->pid()), SIGUSR1);
    EXPECT_TRUE(waitFor([&] { return live.text(5) == QStringLiteral("wrote 0"); }, 60000))
        << live.text(5).toStdString();
    EXPECT_TRUE(live.kernelNotice().isEmpty());
    app->mainFrame()->mdiArea()->setActiveSubWindow(r->document->frames().value(0));
    ASSERT_TRUE(triggerAction(Cmd::Stop));
    ASSERT_TRUE(waitFor([&] { return r->state == MonitorState::Finished; }, 30000));
    EXPECT_EQ(live.text(6), QStringLiteral("never fired"));
    EXPECT_EQ(live.text(7), QStringLiteral("never fired"));
    EXPECT_TRUE(consoleText(r).contains("4 of 6 statements fired. Never fired: lines 6, 7."))
        << consoleText(r).toStdString();
    screenshot(QStringLiteral("monitor-live-finished"));
}
