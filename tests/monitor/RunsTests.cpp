#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "editor/RunnerStart.h"
#include "framework/CChildFrame.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CRunsPane.h"
#include "monitor/MonitorText.h"
#include "monitor/RunsTable.h"
#include "protocol/ClientMessageKind.h"
#include "tests/common/DeskFixture.h"
#include "tests/common/TestSupport.h"
#include "tests/monitor/ScriptedClient.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// Monitors fed by scripted clients, with every message box recorded and answered by answer.
class Runs : public DeskFixture
{
protected:
    void SetUp() override
    {
        DeskFixture::SetUp();
        KMessageBox::setHook([this](const KMessageBox::Request& r) {
            requests.push_back(r);
            return answer ? answer(r) : QMessageBox::Ok;
        });
    }

    void TearDown() override
    {
        clients.clear();
        DeskFixture::TearDown();
    }

    // A client whose monitor is open and executing; pid, when not 0, goes with its MonitorOpen.
    ScriptedClient& startedClient(const std::string& name, int pid = 0)
    {
        clients.push_back(std::make_unique<ScriptedClient>(address));
        ScriptedClient& c = *clients.back();
        const std::size_t before = app->monitors.size();
        c.send(MonitorOpen, 0, [pid](vmsg::Message& m) {
            if (pid != 0)
                m.push(pid);
        });
        c.sendText(ProgramName, 0, name);
        c.send(ListingLine, 0, [](vmsg::Message& m) {
            m.push(1);
            m.push(std::string("after (5) stop"));
        });
        c.send(ExecutionStarted, 100);
        [&] {
            KD_TRY_VERIFY(app->monitors.size() == before + 1, 15000);
            KD_TRY_VERIFY(app->monitors.back()->state == MonitorState::Executing, 15000);
        }();
        return c;
    }

    MonitorRecord* record(std::size_t i) const { return i < app->monitors.size() ? app->monitors[i].get() : nullptr; }
    static bool received(const ScriptedClient& c, int kind)
    {
        const std::vector<int> kinds = c.receivedKinds();
        return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
    }
    bool asked(const QString& part) const
    {
        return std::any_of(requests.begin(), requests.end(),
                           [&](const KMessageBox::Request& r) { return r.text.contains(part); });
    }
    static QString lastConsoleLine(const MonitorRecord* r)
    {
        return r->document->console().toPlainText().split(QLatin1Char('\n')).constLast();
    }
    QTreeWidget* runsTable() const { return app->mainFrame()->runsPane()->table(); }
    // With KELMDESK_SHOT_DIR set (a look under a display), the main window as it is now.
    void saveShot(const QString& name) const
    {
        const QString dir = qEnvironmentVariable("KELMDESK_SHOT_DIR");
        if (dir.isEmpty())
            return;
        CMainFrame* frame = app->mainFrame();
        frame->resize(1100, 700);
        frame->show();
        QTest::qWait(700);
        frame->grab().save(dir + QLatin1Char('/') + name);
    }

    std::vector<std::unique_ptr<ScriptedClient>> clients;
    std::vector<KMessageBox::Request> requests;
    std::function<QMessageBox::StandardButton(const KMessageBox::Request&)> answer;
};

TEST_F(Runs, StopSaysStoppingUntilTheProgramEnds)
{
    ScriptedClient& c = startedClient("tank.kelm");
    MonitorRecord* r = record(0);
    r->document->requestStop();
    EXPECT_EQ(r->document->title(), QStringLiteral("tank.kelm - Stopping..."));
    KD_TRY_VERIFY(received(c, StopRequest), 15000);
    c.sendText(PrintText, 101, "Stopped by request\n");
    c.send(ExecutionFinished, 101);
    KD_TRY_VERIFY(r->state == MonitorState::Finished, 15000);
    EXPECT_EQ(r->document->title(), QStringLiteral("tank.kelm - Finished"));
    EXPECT_FALSE(r->stopping);
    // No offer to end a program that ended.
    QTest::qWait(MonitorText::stopWaitMs + 500);
    EXPECT_FALSE(asked(QStringLiteral("has not ended")));
}

TEST_F(Runs, ARunnerThatIgnoresStopIsOfferedToBeEndedAndThenEnded)
{
    // A runner stand-in started as Run starts one, which ignores SIGTERM, so only SIGKILL ends it.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    const QString script =
        writeFileIn(dir.path(), QStringLiteral("deaf-runner"),
                    "#!/bin/sh\necho $$ > \"" + pidFile.toUtf8() + "\"\ntrap '' TERM\nwhile :; do sleep 0.1; done\n");
    ASSERT_TRUE(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    RunnerStart::Settings settings{QStringLiteral("simhost"), QStringLiteral("3"), script};
    ASSERT_TRUE(RunnerStart::startRun(settings, dir.filePath(QStringLiteral("tank.kelm")), nullptr));
    KD_TRY_VERIFY(QFile(pidFile).size() > 0, 15000);
    QFile f(pidFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const int pid = f.readAll().trimmed().toInt();
    ASSERT_GT(pid, 0);

    ScriptedClient& c = startedClient("tank.kelm", pid);
    MonitorRecord* r = record(0);
    ASSERT_TRUE(r->process.has_value());
    EXPECT_EQ(r->process->host, QStringLiteral("simhost"));
    const RunnerProcess process = *r->process;
    EXPECT_TRUE(RunnerProcesses::isRunning(process));

    answer = [](const KMessageBox::Request& q) {
        return q.text.contains(QStringLiteral("has not ended")) ? QMessageBox::Yes : QMessageBox::Ok;
    };
    r->document->requestStop();
    KD_TRY_VERIFY(received(c, StopRequest), 15000);
    saveShot(QStringLiteral("stopping.png"));
    // Nothing is offered before the wait is over.
    QTest::qWait(MonitorText::stopWaitMs - 1000);
    EXPECT_FALSE(asked(QStringLiteral("has not ended")));
    EXPECT_EQ(r->document->title(), QStringLiteral("tank.kelm - Stopping..."));
    KD_TRY_VERIFY(asked(QStringLiteral("has not ended")), 5000);
    const KMessageBox::Request& offer = requests.back();
    ASSERT_EQ(offer.buttonTexts.size(), 2u);
    EXPECT_EQ(offer.buttonTexts[0].second, QStringLiteral("End Program"));
    // TERM is ignored; KILL after the grace ends it.
    KD_TRY_VERIFY(r->state == MonitorState::Finished, MonitorText::endGraceMs + 5000);
    EXPECT_FALSE(RunnerProcesses::isRunning(process));
    EXPECT_TRUE(lastConsoleLine(r).endsWith(QStringLiteral("--- Program ended by the user ---")))
        << qPrintable(lastConsoleLine(r));
    EXPECT_EQ(r->document->title(), QStringLiteral("tank.kelm - Finished"));
    // The client's later disconnection adds no "terminated abnormally" line.
    c.vanish();
    QTest::qWait(500);
    EXPECT_TRUE(lastConsoleLine(r).endsWith(QStringLiteral("--- Program ended by the user ---")));
}

TEST_F(Runs, AProcessIdKelmDeskDidNotStartIsNotTaken)
{
    // The test's own process: a client must not be able to have it signalled.
    startedClient("tank.kelm", static_cast<int>(QCoreApplication::applicationPid()));
    EXPECT_FALSE(record(0)->process.has_value());
}

TEST_F(Runs, ClosingARunningMonitorAsksAndKeepRunningLeavesItListed)
{
    ScriptedClient& c = startedClient("tank.kelm");
    MonitorRecord* r = record(0);
    CChildFrame* frame = r->document->frames().value(0);
    ASSERT_TRUE(frame);

    answer = [](const KMessageBox::Request&) { return QMessageBox::Cancel; };
    EXPECT_FALSE(frame->close());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].text, QStringLiteral("tank.kelm is still running.\nStop it?"));
    EXPECT_EQ(requests[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    ASSERT_EQ(requests[0].buttonTexts.size(), 2u);
    EXPECT_EQ(requests[0].buttonTexts[0].second, QStringLiteral("Stop"));
    EXPECT_EQ(requests[0].buttonTexts[1].second, QStringLiteral("Keep Running"));
    EXPECT_TRUE(frame->isVisible());

    answer = [](const KMessageBox::Request&) { return QMessageBox::No; };
    frame->close();
    ASSERT_EQ(app->monitors.size(), 1u);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(r->windowClosed);
    EXPECT_FALSE(received(c, StopRequest));
    // The pane shows itself and lists the program, which reopens from it.
    CRunsPane* pane = app->mainFrame()->runsPane();
    KD_TRY_VERIFY(pane->isVisible(), 5000);
    pane->refresh();
    ASSERT_EQ(runsTable()->topLevelItemCount(), 1);
    EXPECT_EQ(runsTable()->topLevelItem(0)->text(RunsTable::State), QStringLiteral("Executing (window closed)"));
    emit runsTable()->itemDoubleClicked(runsTable()->topLevelItem(0), 0);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_FALSE(r->windowClosed);

    // Stop: the window goes at once, the monitor once the program has ended.
    answer = [](const KMessageBox::Request&) { return QMessageBox::Yes; };
    frame->close();
    KD_TRY_VERIFY(received(c, StopRequest), 15000);
    EXPECT_EQ(app->monitors.size(), 1u);
    c.send(ExecutionFinished, 102);
    KD_TRY_VERIFY(app->monitors.empty(), 15000);
}

TEST_F(Runs, AMonitorWithoutAWindowIsNotInTheWindowMenu)
{
    startedClient("tank.kelm");
    startedClient("ramp.kelm");
    answer = [](const KMessageBox::Request&) { return QMessageBox::No; };
    record(0)->document->frames().value(0)->close();
    CMainFrame* frame = app->mainFrame();
    frame->mdiArea()->setActiveSubWindow(record(1)->document->frames().value(0));
    QMenu* windowMenu = nullptr;
    for (QAction* a : frame->menuBar()->actions()) {
        if (a->text() == QStringLiteral("&Window"))
            windowMenu = a->menu();
    }
    ASSERT_TRUE(windowMenu);
    emit windowMenu->aboutToShow();
    QStringList entries;
    for (QAction* a : windowMenu->actions()) {
        if (a->property("windowListEntry").toBool() && !a->isSeparator())
            entries << a->text();
    }
    EXPECT_EQ(entries, QStringList{QStringLiteral("&1 ramp.kelm - Executing")});
}

TEST_F(Runs, ARunnerKelmDeskDidNotStartIsNotOfferedToBeEnded)
{
    startedClient("tank.kelm");
    MonitorRecord* r = record(0);
    r->document->requestStop();
    KD_TRY_VERIFY(lastConsoleLine(r).endsWith(QStringLiteral("cannot end it ---")), MonitorText::stopWaitMs + 5000);
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(r->state, MonitorState::Executing);
    EXPECT_EQ(r->document->title(), QStringLiteral("tank.kelm - Stopping..."));
}

TEST_F(Runs, PaneListsThreeRunsWithTheirStates)
{
    startedClient("tank.kelm");
    startedClient("ramp.kelm");
    ScriptedClient& third = startedClient("tank.kelm");
    // A comment is no statement; a line marked current twice fired once.
    third.send(ListingLine, 100, [](vmsg::Message& m) {
        m.push(2);
        m.push(std::string("// the end"));
    });
    third.sendInt(LineCurrent, 130, 1);
    third.sendInt(LineCurrent, 140, 1);
    third.send(ExecutionFinished, 160);
    KD_TRY_VERIFY(record(2)->state == MonitorState::Finished, 15000);
    record(1)->document->requestStop();

    CRunsPane* pane = app->mainFrame()->runsPane();
    pane->show();
    pane->refresh();
    QTreeWidget* t = runsTable();
    ASSERT_EQ(t->topLevelItemCount(), 3);
    auto cell = [t](int row, int column) { return t->topLevelItem(row)->text(column); };
    EXPECT_EQ(cell(0, RunsTable::Program), QStringLiteral("tank.kelm"));
    EXPECT_EQ(cell(0, RunsTable::Run), QStringLiteral("1"));
    EXPECT_EQ(cell(2, RunsTable::Run), QStringLiteral("2"));
    EXPECT_EQ(cell(1, RunsTable::Run), QStringLiteral("1"));
    EXPECT_EQ(cell(0, RunsTable::State), QStringLiteral("Executing"));
    EXPECT_EQ(cell(1, RunsTable::State), QStringLiteral("Stopping"));
    EXPECT_EQ(cell(2, RunsTable::State), QStringLiteral("Finished"));
    EXPECT_EQ(cell(2, RunsTable::Elapsed), QStringLiteral("00:01:00"));
    EXPECT_EQ(cell(0, RunsTable::Fired), QStringLiteral("0 of 1"));
    EXPECT_EQ(cell(2, RunsTable::Fired), QStringLiteral("1 of 1"));
    EXPECT_EQ(cell(0, RunsTable::Host), QString::fromUtf16(RunsTable::unknown));

    saveShot(QStringLiteral("runs-pane.png"));
    // Closing a finished run from the pane removes its row; the others stay.
    pane->closeMonitor(2);
    KD_TRY_COMPARE(t->topLevelItemCount(), 2, 5000);
    EXPECT_TRUE(requests.empty());
}

TEST_F(Runs, QuittingWithRunsListsThemAndAsks)
{
    ScriptedClient& tank = startedClient("tank.kelm");
    startedClient("ramp.kelm");
    ScriptedClient& done = startedClient("tank.kelm");
    done.send(ExecutionFinished, 101);
    KD_TRY_VERIFY(record(2)->state == MonitorState::Finished, 15000);

    answer = [](const KMessageBox::Request&) { return QMessageBox::Cancel; };
    EXPECT_FALSE(app->mainFrame()->close());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].text,
              QStringLiteral(
                  "These programs are still running:\n\ntank.kelm (run 1)\nramp.kelm (run 1)\n\nStop them and quit?"));
    EXPECT_EQ(app->monitors.size(), 3u);
    EXPECT_FALSE(app->quitting);
    QTest::qWait(200);
    EXPECT_FALSE(received(tank, StopRequest));

    answer = [](const KMessageBox::Request&) { return QMessageBox::Yes; };
    EXPECT_TRUE(app->mainFrame()->close());
    // No monitor asks again; the running programs are asked to stop.
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_TRUE(app->monitors.empty());
    KD_TRY_VERIFY(received(tank, StopRequest), 15000);
}

} // namespace
