#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "editor/CEditorDoc.h"
#include "editor/CEditorView.h"
#include "framework/CStatusBar.h"
#include "framework/CommandIds.h"
#include "framework/DocTemplate.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "framework/Printing.h"
#include "monitor/CMonitorConsole.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CMonitorFindBar.h"
#include "monitor/CMonitorFrame.h"
#include "monitor/CMonitorView.h"
#include "monitor/CTrendPane.h"
#include "monitor/ClientRouting.h"
#include "monitor/LiveLines.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorText.h"
#include "monitor/RunRecord.h"
#include "res/Resource.h"
#include "tests/common/DeskFixture.h"
#include "tests/common/TestSupport.h"
#include "tests/monitor/ScriptedClient.h"
#include "vmsg/vmsg.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QFileInfo>
#include <QPrinter>
#include <QProcess>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QAccessible>
#include <QClipboard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QColor grey(136, 136, 136);
const QColor orange(255, 136, 0);
const QColor darkBlue(0, 0, 136);
const QColor timeBlue(0, 0, 170);
const QColor prefixGreen(0, 119, 0);
const QColor commentGreen(0, 170, 0);

// The format of the character at position.
QTextCharFormat formatAt(QTextDocument* doc, int position)
{
    const QTextBlock block = doc->findBlock(position);
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment f = it.fragment();
        if (position >= f.position() && position < f.position() + f.length())
            return f.charFormat();
    }
    return {};
}

// The kind of the kernel's status message (time, state).
constexpr int kernelStatus = 32;

class MonitorWindows : public DeskFixture
{
protected:
    void SetUp() override
    {
        DeskFixture::SetUp();
        // As the fixture's, and whileBoxUp runs while the box would be up. DeskFixture::TearDown puts
        // back the hook that was there before it.
        KMessageBox::setHook([this](const KMessageBox::Request& r) {
            boxes << r.text;
            if (whileBoxUp)
                whileBoxUp();
            return QMessageBox::Ok;
        });
        // KelmDesk's own handler, counting what the port hands to it: settle() waits for the count.
        vmsgRegisterNonReply([this](int kind, vmsgMsgPort* message) {
            ++delivered;
            OnNonReplyMessage(kind, message);
        });
    }

    void TearDown() override
    {
        whileBoxUp = {};
        vmsgRegisterNonReply(OnNonReplyMessage);
        clients.clear();
        DeskFixture::TearDown();
    }

    // A client KelmDesk takes for its kernel: the kernel panes show its status messages.
    ScriptedClient& kernelStandIn()
    {
        ScriptedClient& kernel = newClient();
        const QString loggedOn = QStringLiteral("New client logged on socket ");
        [&] { KD_TRY_VERIFY(app->statusBar()->paneText(Pane::Clients).startsWith(loggedOn), 15000); }();
        app->kernelHandle = app->statusBar()->paneText(Pane::Clients).mid(loggedOn.size()).toInt();
        return kernel;
    }

    static void sendStatus(ScriptedClient& kernel, double time, int state)
    {
        kernel.send(kernelStatus, 0, [time, state](vmsg::Message& m) {
            m.push(time);
            m.pushDivider();
            m.push(state);
            m.pushDivider();
        });
    }

    static void sendDiagnostic(ScriptedClient& c, const QString& path, int line, const std::string& text)
    {
        c.send(FileDiagnostic, 0, [path, line, text](vmsg::Message& m) {
            m.push(path.toStdString());
            m.push(line);
            m.push(text);
        });
    }

    CEditorDoc* openProgram(const QString& path)
    {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("* tank\nafter (1) {A} = 1\nafter (2) oops\nafter (3) nope\n");
        f.close();
        return qobject_cast<CEditorDoc*>(app->openDocumentFile(path));
    }

    static int caretLine(CEditorDoc* doc) { return doc->currentView()->textCursor().blockNumber(); }

    ScriptedClient& newClient()
    {
        clients.push_back(std::make_unique<ScriptedClient>(address));
        return *clients.back();
    }

    // A client whose monitor is open, named, listed and executing.
    ScriptedClient& startedClient(const std::vector<std::string>& lines, const std::string& name = "tank.kelm")
    {
        ScriptedClient& c = newClient();
        const std::size_t before = app->monitors.size();
        c.send(MonitorOpen, 0);
        c.sendText(ProgramName, 0, name);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& text = lines[i];
            const int number = static_cast<int>(i + 1);
            c.send(ListingLine, 0, [number, text](vmsg::Message& m) {
                m.push(number);
                m.push(text);
            });
        }
        c.send(ListingTop, 0);
        c.send(ExecutionStarted, 0);
        [&] {
            KD_TRY_VERIFY(app->monitors.size() == before + 1, 15000);
            MonitorRecord* r = app->monitors.back().get();
            KD_TRY_VERIFY(r->state == MonitorState::Executing, 15000);
            KD_TRY_COMPARE(static_cast<int>(r->lineStarts.size()), static_cast<int>(lines.size()), 15000);
        }();
        return c;
    }

    MonitorRecord* record(std::size_t i) const { return i < app->monitors.size() ? app->monitors[i].get() : nullptr; }
    static QTextDocument* listing(const MonitorRecord* r) { return r->document->listing(); }
    static QString line(const MonitorRecord* r, int k) { return listing(r)->findBlockByNumber(k - 1).text(); }
    static QStringList consoleLines(const MonitorRecord* r)
    {
        return r->document->console().toPlainText().split(QLatin1Char('\n'));
    }
    // Format of the reported text's first character on line k.
    static QTextCharFormat textFormat(const MonitorRecord* r, int k)
    {
        const std::size_t i = static_cast<std::size_t>(k - 1);
        return formatAt(listing(r), r->lineStarts[i] + r->lineTextOffsets[i]);
    }
    static QString timeSlot(const MonitorRecord* r, int k)
    {
        const std::size_t i = static_cast<std::size_t>(k - 1);
        return line(r, k).left(r->lineSlots[i]);
    }
    // Waits until KelmDesk has handled every message that the clients have sent so far, those that
    // change nothing included.
    void settle()
    {
        const auto sent = [this] {
            int n = 0;
            for (const auto& c : clients)
                n += c->sent();
            return n;
        };
        KD_TRY_COMPARE(delivered, sent(), 15000);
    }

    std::vector<std::unique_ptr<ScriptedClient>> clients;
    int delivered = 0; // messages the port has handed to KelmDesk's handler
    // Called by the message-box hook after boxes has the box's text, before it is answered.
    std::function<void()> whileBoxUp;
};

TEST_F(MonitorWindows, ListingLinesCarryPrefixTextAndCommentColours)
{
    ScriptedClient& c = startedClient({"after (5) {T101:V} = 1", "* a comment", "at (7) stop // done"});
    MonitorRecord* r = record(0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(line(r, 1), QString(9, ' ') + "   1: after (5) {T101:V} = 1");
    EXPECT_EQ(line(r, 3), QString(9, ' ') + "   3: at (7) stop // done");
    EXPECT_EQ(formatAt(listing(r), r->lineStarts[0] + 10).foreground().color(), prefixGreen);
    EXPECT_FALSE(textFormat(r, 1).hasProperty(QTextFormat::ForegroundBrush)) << "automatic colour";
    EXPECT_EQ(textFormat(r, 2).foreground().color(), commentGreen) << "a '*' line is green from its start";
    EXPECT_FALSE(textFormat(r, 3).hasProperty(QTextFormat::ForegroundBrush));
    const int slashes = r->lineStarts[2] + r->lineTextOffsets[2] + 12;
    EXPECT_EQ(formatAt(listing(r), slashes).foreground().color(), commentGreen);
    EXPECT_FALSE(formatAt(listing(r), slashes - 1).hasProperty(QTextFormat::ForegroundBrush));

    EXPECT_EQ(r->document->title(), "tank.kelm - Executing");
    EXPECT_EQ(consoleLines(r).value(0), "[00:00:00] --- Started execution ---");
    EXPECT_FALSE(r->document->isModified());
    c.leave();
}

TEST_F(MonitorWindows, CurrentLineMovesAndLeavesGreyBehindWithItsTime)
{
    ScriptedClient& c = startedClient({"a", "b", "c", "d", "e"});
    MonitorRecord* r = record(0);
    c.sendInt(LineCurrent, 65, 3);
    settle();
    EXPECT_EQ(r->currentLine, 3);
    EXPECT_EQ(timeSlot(r, 3), "00:01:05");
    EXPECT_EQ(formatAt(listing(r), r->lineStarts[2]).foreground().color(), timeBlue);
    EXPECT_EQ(textFormat(r, 3).fontWeight(), QFont::Bold);
    EXPECT_FALSE(textFormat(r, 3).hasProperty(QTextFormat::ForegroundBrush));

    c.sendInt(LineCurrent, 70, 5);
    settle();
    EXPECT_EQ(r->currentLine, 5);
    EXPECT_EQ(textFormat(r, 3).foreground().color(), grey);
    EXPECT_NE(textFormat(r, 3).fontWeight(), QFont::Bold);
    EXPECT_EQ(timeSlot(r, 3), "00:01:05");
    EXPECT_EQ(timeSlot(r, 5), "00:01:10");
    EXPECT_EQ(textFormat(r, 5).fontWeight(), QFont::Bold);
    EXPECT_EQ(timeSlot(r, 4), QString(8, ' ')) << "untouched lines keep their blank slot";

    c.sendInt(LineHighlight, 71, 1);
    settle();
    EXPECT_EQ(textFormat(r, 1).foreground().color(), orange);
    EXPECT_EQ(textFormat(r, 1).fontWeight(), QFont::Bold);
    EXPECT_EQ(timeSlot(r, 1), QString(8, ' ')) << "a highlight writes no time";
    c.leave();
}

TEST_F(MonitorWindows, FinishingWhileALineIsCurrentGreysItAndRetitles)
{
    ScriptedClient& c = startedClient({"a", "b", "c"});
    MonitorRecord* r = record(0);
    c.sendInt(LineCurrent, 10, 2);
    c.send(ExecutionFinished, 3725.9);
    settle();
    EXPECT_EQ(r->state, MonitorState::Finished);
    EXPECT_EQ(r->currentLine, 0);
    EXPECT_EQ(textFormat(r, 2).foreground().color(), grey);
    EXPECT_EQ(r->document->title(), "tank.kelm - Finished");
    EXPECT_EQ(consoleLines(r).value(1), "[01:02:05] --- Finished normally ---");
    EXPECT_FALSE(actionEnabled(Cmd::Stop));

    // A disconnection after the end adds nothing.
    c.leave();
    KD_TRY_VERIFY(app->statusBar()->paneText(Pane::Clients).startsWith("Client disconnected"), 10000);
    EXPECT_EQ(consoleLines(r).size(), 2);
}

TEST_F(MonitorWindows, ActiveStampLeavesTheLineAndReleaseThenDoesNothing)
{
    ScriptedClient& c = startedClient({"a", "b"});
    MonitorRecord* r = record(0);
    c.sendInt(LineCurrent, 5, 2);
    c.send(LineStamp, 6, [](vmsg::Message& m) {
        m.push(2);
        m.push(1);
    });
    settle();
    EXPECT_EQ(r->currentLine, 0);
    EXPECT_EQ(textFormat(r, 2).foreground().color(), darkBlue);
    EXPECT_EQ(textFormat(r, 2).fontWeight(), QFont::Bold);
    EXPECT_EQ(timeSlot(r, 2), "00:00:06");
    c.send(LineRelease, 7);
    settle();
    EXPECT_EQ(textFormat(r, 2).foreground().color(), darkBlue) << "release has no current line to grey";

    c.send(LineStamp, 9, [](vmsg::Message& m) {
        m.push(2);
        m.push(3);
    });
    settle();
    EXPECT_EQ(textFormat(r, 2).foreground().color(), grey);
    EXPECT_NE(textFormat(r, 2).fontWeight(), QFont::Bold);
    EXPECT_EQ(timeSlot(r, 2), "00:00:09");
    c.leave();
}

TEST_F(MonitorWindows, TwoClientsEachReachTheirOwnMonitor)
{
    ScriptedClient& a = startedClient({"a1", "a2"}, "first.kelm");
    ScriptedClient& b = startedClient({"b1", "b2", "b3"}, "second.kelm");
    MonitorRecord* ra = record(0);
    MonitorRecord* rb = record(1);
    ASSERT_NE(ra->socket, rb->socket);
    a.sendText(PrintText, 1, "from a\n");
    b.sendText(PrintText, 2, "from b\n");
    a.sendInt(LineCurrent, 3, 2);
    b.sendInt(LineCurrent, 4, 3);
    settle();
    EXPECT_EQ(consoleLines(ra).value(1), "[00:00:01] from a");
    EXPECT_EQ(consoleLines(rb).value(1), "[00:00:02] from b");
    EXPECT_EQ(ra->currentLine, 2);
    EXPECT_EQ(rb->currentLine, 3);
    EXPECT_EQ(ra->document->title(), "first.kelm - Executing");
    EXPECT_EQ(rb->document->title(), "second.kelm - Executing");
    a.leave();
    b.leave();
}

TEST_F(MonitorWindows, DisconnectionWhileExecutingEndsTheMonitorAbnormally)
{
    ScriptedClient& c = startedClient({"a", "b"});
    MonitorRecord* r = record(0);
    c.sendInt(LineCurrent, 3, 1);
    settle();
    c.vanish();
    KD_TRY_VERIFY(r->state == MonitorState::Finished, 10000);
    EXPECT_EQ(consoleLines(r).last(), "[??:??:??] --- Program terminated abnormally ---");
    EXPECT_EQ(r->document->title(), "tank.kelm - Finished");
    EXPECT_EQ(textFormat(r, 1).foreground().color(), grey);
    EXPECT_TRUE(app->statusBar()->paneText(Pane::Clients).startsWith("Client disconnected on socket "));
}

TEST_F(MonitorWindows, StopSendsTheRequestAndWaitsForTheEnd)
{
    ScriptedClient& c = startedClient({"a"});
    MonitorRecord* r = record(0);
    const QList<CChildFrame*> frames = r->document->frames();
    ASSERT_EQ(frames.size(), 1);
    app->mainFrame()->mdiArea()->setActiveSubWindow(frames.first());
    EXPECT_EQ(app->mainFrame()->currentMenuId(), Res::MonitorDoc);
    ASSERT_TRUE(triggerAction(Cmd::Stop));
    KD_TRY_VERIFY(!c.receivedKinds().empty(), 10000);
    EXPECT_EQ(c.receivedKinds(), std::vector<int>{StopRequest});
    EXPECT_EQ(r->state, MonitorState::Executing) << "the monitor waits for the client's answer";
    EXPECT_FALSE(actionEnabled(Cmd::FileSave));
    EXPECT_FALSE(actionEnabled(Cmd::EditCut));
    EXPECT_FALSE(actionEnabled(Cmd::EditPaste));
    EXPECT_TRUE(actionEnabled(Cmd::FilePrint));
    c.send(ExecutionFinished, 1);
    settle();
    EXPECT_FALSE(actionEnabled(Cmd::Stop));
    c.leave();
}

TEST_F(MonitorWindows, CloseFinishedMonitorsClosesExactlyTheFinishedOnes)
{
    EXPECT_FALSE(actionEnabled(Cmd::CloseFinishedMonitors));
    ScriptedClient& a = startedClient({"a"}, "a.kelm");
    ScriptedClient& b = startedClient({"b"}, "b.kelm");
    ScriptedClient& c = startedClient({"c"}, "c.kelm");
    EXPECT_FALSE(actionEnabled(Cmd::CloseFinishedMonitors));
    a.send(ExecutionFinished, 1);
    c.send(ExecutionFinished, 1);
    settle();
    CMonitorDoc* still = record(1)->document;
    // A second window of a finished monitor goes too.
    DocTemplate* monitors = app->findTemplate(QStringLiteral("KELM Monitor"));
    ASSERT_NE(monitors, nullptr);
    monitors->createNewFrame(record(0)->document);
    ASSERT_TRUE(triggerAction(Cmd::CloseFinishedMonitors));
    ASSERT_EQ(app->monitors.size(), 1u);
    EXPECT_EQ(record(0)->document, still);
    EXPECT_EQ(app->mainFrame()->mdiArea()->subWindowList().size(), 1);
    EXPECT_TRUE(boxes.isEmpty()) << "closing a monitor never asks to save";
    EXPECT_FALSE(actionEnabled(Cmd::CloseFinishedMonitors));
    a.leave();
    b.leave();
    c.leave();
}

TEST_F(MonitorWindows, DiagnosticJumpsToTheLineOfTheOpenProgram)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Tank.kelm"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("* tank\nafter (1) {A} = 1\nafter (2) oops\nafter (3) stop\n");
    f.close();
    auto* doc = qobject_cast<CEditorDoc*>(app->openDocumentFile(path));
    ASSERT_NE(doc, nullptr);

    ScriptedClient& c = newClient();
    const std::string otherCase = (dir.path() + QStringLiteral("/tANK.KELM")).toStdString();
    c.send(FileDiagnostic, 0, [otherCase](vmsg::Message& m) {
        m.push(otherCase);
        m.push(3);
        m.push(std::string("Tank.kelm(3): Operation keyword not recognized. <b>1 faulty line</b>"));
    });
    KD_TRY_COMPARE(boxes.size(), 1, 15000);
    EXPECT_EQ(boxes.first(), "Tank.kelm(3): Operation keyword not recognized. <b>1 faulty line</b>");
    QTextCursor caret = doc->currentView()->textCursor();
    EXPECT_EQ(caret.blockNumber(), 2);
    EXPECT_EQ(caret.positionInBlock(), 0);
    EXPECT_FALSE(caret.hasSelection());

    // Line -1: the box only.
    doc->GoToLine(1);
    c.send(FileDiagnostic, 0, [path](vmsg::Message& m) {
        m.push(path.toStdString());
        m.push(-1);
        m.push(std::string("Tank.kelm: 3 statements, no errors."));
    });
    KD_TRY_COMPARE(boxes.size(), 2, 15000);
    EXPECT_EQ(doc->currentView()->textCursor().blockNumber(), 0);
    EXPECT_TRUE(app->monitors.empty()) << "a diagnostic opens no monitor";
    c.leave();
}

TEST_F(MonitorWindows, AnExactPathWinsOverOneThatDiffersInCase)
{
    QTemporaryDir dir;
    CEditorDoc* lower = openProgram(dir.filePath(QStringLiteral("tank.kelm")));
    CEditorDoc* upper = openProgram(dir.filePath(QStringLiteral("Tank.kelm")));
    ASSERT_NE(lower, nullptr);
    ASSERT_NE(upper, nullptr);
    ASSERT_NE(lower, upper);

    ScriptedClient& c = newClient();
    sendDiagnostic(c, dir.filePath(QStringLiteral("Tank.kelm")), 3, "Tank.kelm, line 3: ...");
    KD_TRY_COMPARE(boxes.size(), 1, 15000);
    EXPECT_EQ(caretLine(upper), 2);
    EXPECT_EQ(caretLine(lower), 0) << "opened first, but its name differs in case";

    // Without an exact match, the first that differs only in case.
    sendDiagnostic(c, dir.filePath(QStringLiteral("TANK.KELM")), 4, "TANK.KELM, line 4: ...");
    KD_TRY_COMPARE(boxes.size(), 2, 15000);
    EXPECT_EQ(caretLine(lower), 3);
    EXPECT_EQ(caretLine(upper), 2);
    c.leave();
}

TEST_F(MonitorWindows, MonitorsAndTheKernelPanesGoOnWhileADiagnosticBoxIsUp)
{
    ScriptedClient& kernel = kernelStandIn();
    ScriptedClient& runner = startedClient({"after (1) stop"});
    MonitorRecord* r = record(0);
    ASSERT_NE(r, nullptr);
    bool kernelShown = false;
    bool consoleShown = false;
    whileBoxUp = [&] {
        sendStatus(kernel, 65.0, 2);
        runner.sendText(PrintText, 1, "while the box is up\n");
        kernelShown = QTest::qWaitFor(
            [&] {
                return app->statusBar()->paneText(Pane::KernelTime) == "00:01:05" &&
                       app->statusBar()->paneText(Pane::KernelState) == "Paused";
            },
            scaledMs(15000));
        consoleShown = QTest::qWaitFor([&] { return consoleLines(r).join('\n').contains("while the box is up"); },
                                       scaledMs(15000));
    };
    ScriptedClient& parser = newClient();
    sendDiagnostic(parser, QStringLiteral("/nowhere/x.kelm"), -1, "x.kelm: 1 statement, no errors.");
    KD_TRY_COMPARE(boxes.size(), 1, 30000);
    EXPECT_EQ(boxes.first(), "x.kelm: 1 statement, no errors.");
    EXPECT_TRUE(kernelShown) << "the kernel panes stood still while the box was up";
    EXPECT_TRUE(consoleShown) << "the monitor stood still while the box was up";
    kernel.leave();
    runner.leave();
    parser.leave();
}

TEST_F(MonitorWindows, ADiagnosticThatArrivesWhileABoxIsUpComesNextInOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tank.kelm"));
    CEditorDoc* doc = openProgram(path);
    ASSERT_NE(doc, nullptr);
    ScriptedClient& c = newClient();
    std::vector<int> caretWhileUp;
    int boxesWhenTheSecondHadCome = -1;
    whileBoxUp = [&] {
        caretWhileUp.push_back(caretLine(doc));
        if (boxes.size() != 1)
            return;
        sendDiagnostic(c, path, 4, "second");
        // The monitor opens behind the second diagnostic on the same connection: that one has come.
        c.send(MonitorOpen, 0);
        if (QTest::qWaitFor([&] { return app->monitors.size() == 1; }, scaledMs(15000)))
            boxesWhenTheSecondHadCome = int(boxes.size());
    };
    sendDiagnostic(c, path, 3, "first");
    KD_TRY_COMPARE(boxes.size(), 2, 30000);
    EXPECT_EQ(boxesWhenTheSecondHadCome, 1) << "the second box waits until the first has closed";
    EXPECT_EQ(boxes, (QStringList{"first", "second"}));
    EXPECT_EQ(caretWhileUp, (std::vector<int>{0, 2})) << "the first box's line is reached before the second box";
    EXPECT_EQ(caretLine(doc), 3);
    c.leave();
}

TEST_F(MonitorWindows, NetworkTextIsShownLiterally)
{
    ScriptedClient& c = startedClient({"<b>bold</b> &amp; <i>x</i>"}, "<h1>name</h1>");
    MonitorRecord* r = record(0);
    c.sendText(PrintText, 1, "<font color=red>console</font>\n");
    settle();
    EXPECT_TRUE(line(r, 1).endsWith("<b>bold</b> &amp; <i>x</i>"));
    EXPECT_EQ(consoleLines(r).value(1), "[00:00:01] <font color=red>console</font>");
    EXPECT_EQ(r->document->title(), "<h1>name</h1> - Executing");
    c.leave();
}

TEST_F(MonitorWindows, ADiagnosticOfAnyLengthFitsItsBox)
{
    ScriptedClient& c = newClient();
    c.send(FileDiagnostic, 0, [](vmsg::Message& m) {
        m.push(std::string("/nowhere/x.kelm"));
        m.push(-1);
        m.push("<i>" + std::string(200000, 'w'));
    });
    KD_TRY_COMPARE(boxes.size(), 1, 15000);
    EXPECT_EQ(boxes.first().size(), MonitorText::maxDiagnosticText);
    EXPECT_TRUE(boxes.first().startsWith("<i>www"));
    EXPECT_EQ(boxes.first().back(), QChar(0x2026));
    c.leave();
}

TEST_F(MonitorWindows, AListingTakesNoMoreThanItsBoundOfLines)
{
    ScriptedClient& c = startedClient({"first"});
    MonitorRecord* r = record(0);
    // As if the bound had been reached line by line (the listing's blocks are not looked at).
    const std::size_t full = std::size_t(MonitorText::maxListingLines);
    r->lineStarts.resize(full, r->lineStarts.back());
    r->lineSlots.resize(full, r->lineSlots.back());
    r->lineTextOffsets.resize(full, r->lineTextOffsets.back());
    const int blocks = listing(r)->blockCount();
    c.send(ListingLine, 0, [](vmsg::Message& m) {
        m.push(2);
        m.push(std::string("one too many"));
    });
    c.sendText(PrintText, 1, "after it\n");
    KD_TRY_VERIFY(consoleLines(r).join('\n').contains("after it"), 15000);
    EXPECT_EQ(listing(r)->blockCount(), blocks);
    EXPECT_EQ(r->lineStarts.size(), full);
    c.leave();
}

TEST_F(MonitorWindows, ProgramNamesShowInTitlesAsTheyAre)
{
    CMainFrame* frame = app->mainFrame();
    frame->winId(); // a platform window: its title is the text the user reads
    ASSERT_NE(frame->windowHandle(), nullptr);
    const std::string name = "tank[*] & [*][*] <b>1</b>.kelm";
    ScriptedClient& c = startedClient({"x"}, name);
    settle();
    const QString shown = frame->windowHandle()->title();
    EXPECT_TRUE(shown.contains(QString::fromStdString(name) + " - Executing")) << shown.toStdString();
    c.leave();
}

TEST_F(MonitorWindows, MarksStayOnTheirLinesWhenSlotsAndNumbersWiden)
{
    ScriptedClient& c = newClient();
    c.send(MonitorOpen, 0);
    for (int n : {1, 2, 12345, 4}) {
        c.send(ListingLine, 0, [n](vmsg::Message& m) {
            m.push(n);
            m.push(std::string("line ") + std::to_string(n));
        });
    }
    c.send(ExecutionStarted, 0);
    KD_TRY_VERIFY(!app->monitors.empty() && app->monitors[0]->lineStarts.size() == 4, 15000);
    MonitorRecord* r = record(0);
    settle();
    EXPECT_EQ(r->document->title(), "Monitor1 - Executing") << "before a name, the framework's title stands";
    EXPECT_EQ(line(r, 3), QString(9, ' ') + "12345: line 12345");

    c.sendInt(LineCurrent, 360000, 1); // 100 hours: a 9-character time in an 8-character slot
    c.sendInt(LineCurrent, 5, 3);
    c.sendInt(LineCurrent, 6, 4);
    c.sendInt(LineHighlight, 7, 99); // no such line: ignored
    c.sendInt(LineCurrent, 8, 0);    // no such line: ignored
    settle();
    EXPECT_EQ(line(r, 1), "100:00:00 " + QString("   1: line 1"));
    EXPECT_EQ(line(r, 2), QString(9, ' ') + "   2: line 2");
    EXPECT_EQ(timeSlot(r, 3), "00:00:05");
    EXPECT_EQ(line(r, 4), "00:00:06 " + QString("   4: line 4"));
    EXPECT_EQ(r->currentLine, 4);
    EXPECT_EQ(textFormat(r, 1).foreground().color(), grey);
    EXPECT_EQ(textFormat(r, 3).foreground().color(), grey);
    EXPECT_EQ(formatAt(listing(r), r->lineStarts[2] + r->lineTextOffsets[2]).fontWeight(), QFont::Normal);
    EXPECT_EQ(listing(r)->findBlock(r->lineStarts[3] + r->lineTextOffsets[3]).text().mid(r->lineTextOffsets[3]),
              "line 4");

    // The kernel turns to calendar time between listing and marking: the slot widens to 17.
    app->calendarTime = true;
    c.sendInt(LineCurrent, 9, 2);
    settle();
    EXPECT_EQ(timeSlot(r, 2).size(), 17);
    EXPECT_EQ(line(r, 2).mid(r->lineTextOffsets[1]), "line 2");
    EXPECT_EQ(textFormat(r, 2).fontWeight(), QFont::Bold);
    EXPECT_EQ(line(r, 4).mid(r->lineTextOffsets[3]), "line 4");
    app->calendarTime = false;

    // A malformed listing line (text before number) is ignored, the next one is not.
    c.send(ListingLine, 0, [](vmsg::Message& m) {
        m.push(std::string("text first"));
        m.push(5);
    });
    c.send(ListingLine, 0, [](vmsg::Message& m) {
        m.push(5);
        m.push(std::string("five"));
    });
    settle();
    EXPECT_EQ(r->lineStarts.size(), 5u);
    c.leave();
}

TEST_F(MonitorWindows, FrameSplitsListingAboveConsoleAndF6MovesBetweenThem)
{
    startedClient({"a"});
    MonitorRecord* r = record(0);
    auto* frame = qobject_cast<CMonitorFrame*>(r->document->frames().value(0));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->splitter()->orientation(), Qt::Vertical);
    EXPECT_EQ(frame->splitter()->widget(0), frame->listingView());
    // Below the listing the console, and the trend beside it.
    ASSERT_NE(frame->splitter()->widget(1), nullptr);
    EXPECT_TRUE(frame->splitter()->widget(1)->isAncestorOf(frame->consoleView()));
    EXPECT_TRUE(frame->splitter()->widget(1)->isAncestorOf(frame->trendPane()));
    EXPECT_EQ(r->console, frame->consoleView());
    EXPECT_TRUE(frame->listingView()->isReadOnly());
    EXPECT_EQ(frame->consoleView()->palette().color(QPalette::Base), QColor(Qt::white));
    app->mainFrame()->mdiArea()->setActiveSubWindow(frame);
    frame->listingView()->setFocus();
    ASSERT_TRUE(triggerAction(Cmd::NextPane));
    EXPECT_TRUE(frame->consoleView()->hasFocus() || QApplication::focusWidget() == frame->consoleView());
    clients.back()->leave();
}

// The console's record leaves the monitor: Save Console As writes exactly its lines, and Print in
// the console prints the console, not the listing.
TEST_F(MonitorWindows, ConsoleIsSavedAndPrintedThroughTheMonitorsCommands)
{
    ScriptedClient& c = startedClient({"after (1) {LISTING_ONLY} = 1"}, "dir/tank.kelm");
    MonitorRecord* r = record(0);
    c.sendText(PrintText, 5, "{P101:RUN} = 0\n");
    c.sendText(PrintText, 6, "two\nlines, caf\xc3\xa9\t\xe2\x82\xac\n");
    settle();
    auto* frame = qobject_cast<CMonitorFrame*>(r->document->frames().value(0));
    ASSERT_NE(frame, nullptr);
    app->mainFrame()->mdiArea()->setActiveSubWindow(frame);
    frame->consoleView()->setFocus();
    const QStringList expected = {"[00:00:00] --- Started execution ---", "[00:00:05] {P101:RUN} = 0", "[00:00:06] two",
                                  QString::fromUtf8("lines, caf\xc3\xa9\t\xe2\x82\xac")};
    ASSERT_EQ(consoleLines(r), expected);

    QTemporaryDir dir;
    QStringList asked;
    QString answer = dir.filePath("run1");
    const Modal::FileHook previous =
        Modal::setFileHook([&](const QString& title, const QString&, const QString& proposed) {
            asked << title << proposed;
            return answer;
        });
    ASSERT_TRUE(actionEnabled(Cmd::SaveConsoleAs));
    EXPECT_TRUE(triggerAction(Cmd::SaveConsoleAs));
    EXPECT_EQ(asked, (QStringList{"Save Console As", "tank console.txt"}));
    QFile saved(answer + ".txt");
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly)) << "a name without an extension gets .txt";
    EXPECT_EQ(saved.readAll(), (expected.join('\n') + '\n').toUtf8());
    saved.close();

    // Saving over the file replaces it; a folder that cannot hold it leaves the user told.
    c.sendText(PrintText, 7, "later\n");
    settle();
    answer = dir.filePath("run1.txt");
    EXPECT_TRUE(triggerAction(Cmd::SaveConsoleAs));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), (QStringList(expected) << "[00:00:07] later").join('\n').toUtf8() + '\n');
    saved.close();
    answer = dir.filePath("missing/run2.txt");
    EXPECT_TRUE(triggerAction(Cmd::SaveConsoleAs));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes.constFirst().startsWith("Cannot save " + answer + ".\n")) << boxes.constFirst().toStdString();
    Modal::setFileHook(previous);

    // Print with the console focused goes to the printer as the console's text.
    const QString pdf = dir.filePath("console.pdf");
    Printing::printer().setOutputFormat(QPrinter::PdfFormat);
    Printing::printer().setOutputFileName(pdf);
    const Modal::DialogHook previousDialog = Modal::setDialogHook([](QDialog& dlg) { dlg.accept(); });
    EXPECT_TRUE(triggerAction(Cmd::FilePrint));
    Modal::setDialogHook(previousDialog);
    Printing::printer().setOutputFileName(QString());
    ASSERT_TRUE(QFileInfo(pdf).size() > 0);
    QProcess text;
    text.start("pdftotext", {"-layout", pdf, "-"});
    if (!text.waitForFinished(scaledMs(30000)) || text.exitCode() != 0)
        GTEST_SKIP() << "pdftotext is needed to read the printed page";
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(printed.contains("[00:00:05] {P101:RUN} = 0")) << printed.toStdString();
    EXPECT_TRUE(printed.contains("[00:00:07] later"));
    EXPECT_FALSE(printed.contains("LISTING_ONLY"));
    c.leave();
}

// Find, Find Next and Find Previous reach the find bar of the active monitor and search the pane
// with the focus; Save Console As waits for a console line.
TEST_F(MonitorWindows, FindCommandsSearchThePaneWithTheFocus)
{
    ScriptedClient& c = newClient();
    c.send(MonitorOpen, 0);
    KD_TRY_VERIFY(record(0) != nullptr, 15000);
    MonitorRecord* r = record(0);
    auto* frame = qobject_cast<CMonitorFrame*>(r->document->frames().value(0));
    ASSERT_NE(frame, nullptr);
    app->mainFrame()->mdiArea()->setActiveSubWindow(frame);
    EXPECT_FALSE(actionEnabled(Cmd::SaveConsoleAs)) << "nothing to save yet";
    c.send(ListingLine, 0, [](vmsg::Message& m) {
        m.push(1);
        m.push(std::string("when {T101:LEVEL} > 3 stop"));
    });
    c.send(ExecutionStarted, 0);
    c.sendText(PrintText, 4, "T101:LEVEL = 3.2\n");
    settle();
    EXPECT_TRUE(actionEnabled(Cmd::SaveConsoleAs));

    frame->consoleView()->setFocus();
    ASSERT_TRUE(triggerAction(Cmd::EditFind));
    CMonitorFindBar* bar = frame->findBar();
    EXPECT_TRUE(bar->isVisible());
    auto* what = bar->findChild<QLineEdit*>(QStringLiteral("findWhat"));
    ASSERT_NE(what, nullptr);
    EXPECT_TRUE(what->hasFocus());
    what->setText(QStringLiteral("level"));
    // With the focus in the bar, F3 goes on in the pane it was opened for.
    ASSERT_TRUE(triggerAction(Cmd::EditFindNext));
    EXPECT_EQ(frame->consoleView()->selectedText(), QStringLiteral("LEVEL"));
    EXPECT_EQ(frame->consoleView()->topLine(), 0);
    EXPECT_FALSE(frame->listingView()->textCursor().hasSelection());

    frame->listingView()->setFocus();
    ASSERT_TRUE(triggerAction(Cmd::FindPrevious));
    EXPECT_EQ(frame->listingView()->textCursor().selectedText(), QStringLiteral("LEVEL"));
    EXPECT_EQ(bar->findChild<QLabel*>(QStringLiteral("findStatus"))->text(), QString());
    c.leave();
}

} // namespace

// A console view of its own, on screen, over a monitor document without a client.
class MonitorConsoleView : public ::testing::Test
{
protected:
    void SetUp() override
    {
        view.resize(400, 200);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view, scaledMs(5000)));
    }

    CMonitorDoc doc;
    CMonitorConsole view{&doc};
};

// The console keeps exactly its last lines, and its view follows the end, selects with the mouse
// and copies, and keeps a selection on its lines while older ones are dropped.
TEST_F(MonitorConsoleView, FollowsTheEndSelectsAndCopiesWhileLinesAreDropped)
{
    const ConsoleLines& console = doc.console();
    QStringList expected;
    int next = 0;
    // Every 997th line carries a break inside: one text, two console lines.
    auto append = [&](int n) {
        for (int i = 0; i < n; ++i, ++next) {
            const QString line = next % 997 == 0 ? QStringLiteral("%1\n%1+").arg(next) : QString::number(next);
            doc.appendConsoleLine(line);
            expected += line.split(QLatin1Char('\n'));
        }
    };
    auto tail = [&] { return expected.mid(std::max<qsizetype>(0, expected.size() - CMonitorDoc::MaxConsoleLines)); };
    // Once the event loop has turned, the view has taken in every line and shows the last one at
    // its bottom.
    auto followsTheEnd = [&] {
        return QTest::qWaitFor(
            [&] {
                const QScrollBar* bar = view.verticalScrollBar();
                return view.shownEnd() == console.endNumber() && bar->maximum() + bar->pageStep() == console.size() &&
                       bar->value() == bar->maximum();
            },
            scaledMs(5000));
    };

    append(50);
    ASSERT_TRUE(followsTheEnd());
    EXPECT_EQ(console.toPlainText().split(QLatin1Char('\n')), expected);

    // A drag from the start of the top line to the middle of the next selects that text.
    const int h = view.fontMetrics().lineSpacing();
    const int w = view.fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const qint64 top = view.topLine();
    const QPoint start(4 + 1, 4 + h / 2);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, start);
    const QPoint end(4 + w + 1, 4 + h + h / 2);
    QMouseEvent move(QEvent::MouseMove, QPointF(end), view.viewport()->mapToGlobal(QPointF(end)), Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(view.viewport(), &move);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, end);
    const QString selected = console.line(top) + QLatin1Char('\n') + console.line(top + 1).left(1);
    EXPECT_EQ(view.selectedText(), selected);
    view.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), selected);

    // Past the cap: the console holds exactly the last lines, and the selection keeps to what is
    // left of its lines (nothing, once they are gone).
    view.selectAll();
    EXPECT_FALSE(view.isFollowing()) << "a selection pauses following";
    // Following again keeps the selection.
    view.setFollowing(true);
    EXPECT_EQ(view.selectedText(), console.toPlainText());
    const qsizetype selectedLines = expected.size();
    append(CMonitorDoc::MaxConsoleLines - 130);
    ASSERT_TRUE(followsTheEnd());
    EXPECT_EQ(console.size(), CMonitorDoc::MaxConsoleLines);
    EXPECT_EQ(console.toPlainText().split(QLatin1Char('\n')), tail());
    const qint64 dropped = console.firstNumber();
    ASSERT_GT(dropped, 0);
    ASSERT_LT(dropped, selectedLines);
    EXPECT_EQ(view.selectedText(), expected.mid(dropped, selectedLines - dropped).join(QLatin1Char('\n')));
    append(100);
    ASSERT_TRUE(followsTheEnd());
    EXPECT_EQ(console.toPlainText().split(QLatin1Char('\n')), tail());
    EXPECT_FALSE(view.hasSelectedText());
    view.selectAll();
    EXPECT_EQ(view.selectedText(), console.toPlainText());
}

// Assistive technology reads the console as one text: its characters, their places on screen and
// the selection, which it can also set.
TEST_F(MonitorConsoleView, AssistiveTechnologyReadsTheTextAndTheSelection)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(iface, nullptr);
    EXPECT_TRUE(iface->state().readOnly);
    QAccessibleTextInterface* text = iface->textInterface();
    ASSERT_NE(text, nullptr);
    // An empty console answers every question with nothing.
    EXPECT_EQ(text->characterCount(), 0);
    EXPECT_EQ(text->text(-3, 5), QString());
    EXPECT_EQ(text->characterRect(0), QRect());
    text->scrollToSubstring(0, 4);
    text->setSelection(0, -5, 3);
    EXPECT_FALSE(view.hasSelectedText());

    doc.appendConsoleLine(QStringLiteral("[00:00:01] first"));
    doc.appendConsoleLine(QStringLiteral("[00:00:02] a\tb\nsecond part"));
    const QString all = doc.console().toPlainText();
    EXPECT_EQ(iface->text(QAccessible::Value), all);
    ASSERT_EQ(text->characterCount(), all.size());
    EXPECT_EQ(text->text(0, text->characterCount()), all);
    const int b = int(all.indexOf(QLatin1Char('b')));
    EXPECT_EQ(text->text(b - 2, b + 3), all.mid(b - 2, 5)) << "across a tab and a line break";

    view.selectAll();
    int start = -1;
    int end = -1;
    text->selection(0, &start, &end);
    EXPECT_EQ(std::make_pair(start, end), std::make_pair(0, int(all.size())));
    text->setSelection(0, 11, b + 1);
    EXPECT_EQ(view.selectedText(), all.mid(11, b + 1 - 11));

    // The character after the tab is where the view draws it, and found there again.
    const QRect r = text->characterRect(b);
    const double cell = QFontMetricsF(view.font()).horizontalAdvance(QLatin1Char('0'));
    EXPECT_NEAR(r.left() - text->characterRect(b - 2).left(), 5 * cell, 1.5) << "a at column 11, b at 16";
    EXPECT_EQ(text->offsetAtPoint(r.center() - QPoint(r.width() / 4, 0)), b);
}

// Double and triple clicks select the word or line under the mouse where it is drawn, also past
// characters that take other than one cell.
TEST_F(MonitorConsoleView, ClicksSelectTheWordOrLineWhereItIsDrawn)
{
    // Nothing to select on an empty console.
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    view.selectAll();
    EXPECT_FALSE(view.hasSelectedText());

    const QString emoji = QString::fromUcs4(U"\U0001F600");
    doc.appendConsoleLine(QStringLiteral("[00:00:01] \t") + emoji + QStringLiteral("e\u0301 word_1 next"));
    doc.appendConsoleLine(QStringLiteral("[00:00:02] second"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.shownEnd() == doc.console().endNumber(); }, scaledMs(5000)));
    const double cell = QFontMetricsF(view.font()).horizontalAdvance(QLatin1Char('0'));
    const int row = 4 + view.fontMetrics().lineSpacing() / 2;
    // "[00:00:01] " is 11 cells, the tab runs to 16, the emoji takes two, "e" with its accent one
    // and the blank one: "word_1" starts at cell 20.
    const QPoint onWord(int(4 + 20.3 * cell), row);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, onWord);
    EXPECT_EQ(view.selectedText(), QStringLiteral("word_1"));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, onWord);
    EXPECT_EQ(view.selectedText(), doc.console().line(0) + QLatin1Char('\n')) << "a third click takes the line";
    // A double click on either half of the emoji's two cells selects the whole of it.
    view.selectAll();
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(int(4 + 17.8 * cell), row));
    EXPECT_EQ(view.selectedText(), emoji);
}

namespace {

CMonitorView* listingView(const MonitorRecord* r)
{
    for (CView* v : r->document->views()) {
        if (auto* view = dynamic_cast<CMonitorView*>(v))
            return view;
    }
    return nullptr;
}

// Collects the regions the viewport is asked to paint.
class PaintSpy : public QObject
{
public:
    explicit PaintSpy(QWidget* target) { target->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
    QRegion painted;
};

// How many pixels of colour lie inside rect of image.
int pixelsOf(const QImage& image, const QRect& rect, const QColor& colour)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom() && y < image.height(); ++y) {
        for (int x = rect.left(); x <= rect.right() && x < image.width(); ++x)
            n += image.pixelColor(x, y) == colour;
    }
    return n;
}

void sendWhen(ScriptedClient& c, double t, int line, int holds, const std::string& tag, double value)
{
    c.send(LiveWhen, t, [=](vmsg::Message& m) {
        m.push(line);
        m.push(holds);
        m.push(tag);
        m.push(value);
    });
}

void sendLineReal(ScriptedClient& c, int kind, double t, int line, double value)
{
    c.send(kind, t, [=](vmsg::Message& m) {
        m.push(line);
        m.push(value);
    });
}

void sendClock(ScriptedClient& c, double time, int state)
{
    c.send(LiveClock, time, [=](vmsg::Message& m) {
        m.push(time);
        m.push(state);
    });
}

} // namespace

TEST_F(MonitorWindows, LiveValuesAndCountdownsArePaintedBesideTheirLinesAndChangeInPlace)
{
    const std::vector<std::string> program = {"* tank", "when ({T101:LEVEL} > 3) {FV101:POS} = 0", "after (100) stop",
                                              "at (5) {A:X} = 1"};
    ScriptedClient& c = startedClient(program);
    MonitorRecord* r = record(0);
    CMonitorView* view = listingView(r);
    ASSERT_NE(view, nullptr);
    view->window()->resize(1000, 700);
    const QString listingBefore = listing(r)->toPlainText();

    sendClock(c, 20, 1);
    sendWhen(c, 20, 2, 0, "T101:LEVEL", 2.41);
    sendLineReal(c, LiveDue, 20, 3, 100);
    settle();
    KD_TRY_VERIFY(!view->liveTextRect(2).isEmpty(), 5000);
    const LiveLines& live = r->document->live();
    EXPECT_EQ(live.text(2), QString("T101:LEVEL 2.41 ") + QChar(0x00B7) + " false");
    EXPECT_EQ(live.text(3), "in 01:20");
    EXPECT_TRUE(view->liveTextRect(1).isEmpty()) << "a comment line has nothing beside it";
    EXPECT_TRUE(view->liveTextRect(4).isEmpty());

    // Each text stands on its own line's row, right of the line's text.
    for (int k : {2, 3}) {
        const QTextBlock block = listing(r)->findBlockByNumber(k - 1);
        const QRect row = view->liveTextRect(k);
        const QTextCursor end(block);
        QTextCursor atEnd(block);
        atEnd.movePosition(QTextCursor::EndOfBlock);
        EXPECT_EQ(row.center().y() / row.height(), view->cursorRect(atEnd).center().y() / row.height()) << k;
        EXPECT_GT(row.left(), view->cursorRect(atEnd).right()) << k;
    }
    const QImage first = view->viewport()->grab().toImage();
    const QColor link = view->palette().color(QPalette::Link);
    EXPECT_GT(pixelsOf(first, view->liveTextRect(2), link), 10) << "the values are painted, in the link colour";

    // A new value repaints that row only, and the listing's text (what Copy and Print take) stays.
    QApplication::processEvents();
    PaintSpy spy(view->viewport());
    sendWhen(c, 21, 2, 0, "T101:LEVEL", 2.87);
    settle();
    KD_TRY_VERIFY(live.text(2).startsWith("T101:LEVEL 2.87"), 5000);
    KD_TRY_VERIFY(!spy.painted.isEmpty(), 5000);
    const QRect row2 = view->liveTextRect(2);
    EXPECT_TRUE(QRegion(0, row2.top(), view->viewport()->width(), row2.height()).contains(spy.painted.boundingRect()))
        << "painted outside line 2's row";
    EXPECT_EQ(listing(r)->toPlainText(), listingBefore);

    // The tool tip has the full value; a tag name is shown as plain text, never as markup.
    sendWhen(c, 21, 2, 0, "<b>T101:LEVEL</b>", 2.871234567);
    settle();
    KD_TRY_VERIFY(live.text(2).startsWith("<b>T101:LEVEL</b> 2.87123"), 5000);
    QHelpEvent help(QEvent::ToolTip, view->liveTextRect(2).center(),
                    view->viewport()->mapToGlobal(view->liveTextRect(2).center()));
    QApplication::sendEvent(view->viewport(), &help);
    EXPECT_TRUE(QToolTip::text().contains("{&lt;b&gt;T101:LEVEL&lt;/b&gt;} = 2.871234567"))
        << QToolTip::text().toStdString();
    view->selectAll();
    EXPECT_EQ(view->textCursor().selection().toPlainText(), listingBefore);

    // The clock moves the countdown; paused, it stands and the monitor says so.
    sendClock(c, 30, 1);
    settle();
    KD_TRY_COMPARE(live.text(3), QString("in 01:10"), 5000);
    EXPECT_TRUE(view->noticeRect().isEmpty());
    sendClock(c, 31, 2);
    settle();
    KD_TRY_VERIFY(!view->noticeRect().isEmpty(), 5000);
    EXPECT_EQ(live.text(3), "in 01:09");
    EXPECT_EQ(live.kernelNotice(), MonitorText::kernelPausedNotice);

    // A firing ends the waiting; the value written takes its place; the end marks what never fired.
    c.sendInt(LineCurrent, 40, 2);
    sendLineReal(c, LiveWritten, 40, 2, 0);
    c.send(LiveNotFired, 50, [](vmsg::Message& m) {
        m.push(3);
        m.push(4);
        m.push(99); // not a listed line: ignored
    });
    c.send(ExecutionFinished, 50);
    settle();
    EXPECT_EQ(live.text(2), "wrote 0");
    EXPECT_EQ(live.text(3), "never fired");
    EXPECT_EQ(live.text(4), "never fired");
    KD_TRY_VERIFY(view->noticeRect().isEmpty(), 5000);
    // Only the marks changed the listing: each line still ends with the program's text.
    for (int k = 1; k <= 4; ++k)
        EXPECT_TRUE(line(r, k).endsWith(QString::fromStdString(program[std::size_t(k - 1)]))) << k;

    // Copy with Values: the selected lines as the listing has them, each with its text beside it.
    QTextCursor lines23(listing(r)->findBlockByNumber(1));
    lines23.setPosition(listing(r)->findBlockByNumber(3).position(), QTextCursor::KeepAnchor);
    view->setTextCursor(lines23);
    view->copyWithValues();
    EXPECT_EQ(QApplication::clipboard()->text(), line(r, 2) + "  wrote 0\n" + line(r, 3) + "  never fired\n");
    c.leave();
}

TEST_F(MonitorWindows, LiveMessagesOfAnotherShapeOrOutOfViewChangeNothingVisible)
{
    std::vector<std::string> program(400, "when ({A:X} > 1) stop");
    ScriptedClient& c = startedClient(program);
    MonitorRecord* r = record(0);
    CMonitorView* view = listingView(r);
    ASSERT_NE(view, nullptr);
    // The listing shows its last line and paints it (the paint is posted by the move) before the spy
    // starts.
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    PaintSpy spy(view->viewport());
    // Line 390 is far below the view: its state is kept, nothing is painted.
    sendWhen(c, 1, 390, 0, "A:X", 0.5);
    // Malformed: a when without its value, a due without its time, a clock with a text.
    c.send(LiveWhen, 1, [](vmsg::Message& m) {
        m.push(2);
        m.push(0);
        m.push(std::string("A:X"));
    });
    c.sendInt(LiveDue, 1, 3);
    c.sendText(LiveClock, 1, "now");
    c.send(LiveRamp, 1, [](vmsg::Message& m) {
        m.push(0); // no line 0
        m.push(1.0);
        m.push(2.0);
    });
    settle();
    QTest::qWait(50);
    const LiveLines& live = r->document->live();
    EXPECT_EQ(live.text(390), QString("A:X 0.5 ") + QChar(0x00B7) + " false");
    EXPECT_TRUE(live.text(2).isEmpty());
    EXPECT_TRUE(live.text(3).isEmpty());
    EXPECT_FALSE(live.hasClock());
    EXPECT_TRUE(spy.painted.isEmpty()) << "nothing in view changed";
    c.leave();
}

TEST_F(MonitorWindows, WithoutTheRunnersClockKelmDesksOwnKernelStatusSaysThatTheKernelIsPaused)
{
    ScriptedClient& kernel = kernelStandIn();
    ScriptedClient& c = startedClient({"after (5) stop"});
    MonitorRecord* r = record(0);
    CMonitorView* view = listingView(r);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->noticeRect().isEmpty());
    sendStatus(kernel, 12, 2);
    KD_TRY_COMPARE(app->kernelState, 2, 5000);
    KD_TRY_VERIFY(!view->noticeRect().isEmpty(), 5000);
    EXPECT_EQ(r->document->live().kernelNotice(), MonitorText::kernelPausedNotice);
    sendStatus(kernel, 12, 1);
    KD_TRY_VERIFY(view->noticeRect().isEmpty(), 5000);
    c.leave();
    kernel.leave();
}

// What the monitor learns goes into the run record: the condition's values, a ramp's and a
// written value under the tag its line writes, and the firings; Export Run Data writes it as two
// CSV files, while the program runs and after it has ended.
TEST_F(MonitorWindows, LiveValuesAndFiringsAreRecordedAndExportedAsCsv)
{
    ScriptedClient& c = startedClient({"* tank", "when ({T101:LEVEL} > 3) {FV101:POS} = 0",
                                       "after (5) ramp({P101:SPEED}, 50, 10, 1)", "when ({A,\"B\"} > 1) stop"});
    MonitorRecord* r = record(0);
    const RunRecord& run = r->document->record();
    EXPECT_EQ(run.tags(), (QStringList{"FV101:POS", "P101:SPEED"})) << "the tags the listing's lines write";
    EXPECT_FALSE(actionEnabled(Cmd::ExportRunData)) << "nothing recorded yet";

    c.sendInt(LineCurrent, 5, 3);
    c.send(LiveRamp, 6, [](vmsg::Message& m) {
        m.push(3);
        m.push(10.0);
        m.push(50.0);
    });
    c.send(LiveRamp, 7, [](vmsg::Message& m) {
        m.push(3);
        m.push(20.0);
        m.push(50.0);
    });
    sendWhen(c, 10, 2, 0, "T101:LEVEL", 2.5);
    sendWhen(c, 11, 2, 1, "T101:LEVEL", 3.25);
    c.sendInt(LineCurrent, 11, 2);
    sendLineReal(c, LiveWritten, 11, 2, 0);
    sendWhen(c, 11.5, 4, 0, "A,\"B\"", -1);
    sendLineReal(c, LiveWritten, 12, 9, 1); // not a listed line: nothing
    settle();
    ASSERT_EQ(run.pointCount(), 6u);
    EXPECT_EQ(run.points(int(run.tags().indexOf("P101:SPEED")), 0, 100).back().value, 20);
    ASSERT_EQ(run.firings().size(), 2u);
    EXPECT_TRUE(run.firings()[1].wrote);

    QTemporaryDir dir;
    QStringList asked;
    const Modal::FileHook previous =
        Modal::setFileHook([&](const QString& title, const QString&, const QString& proposed) {
            asked << title << proposed;
            return dir.filePath("run1");
        });
    auto read = [&](const QString& name) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
    };
    ASSERT_TRUE(actionEnabled(Cmd::ExportRunData));
    EXPECT_TRUE(triggerAction(Cmd::ExportRunData));
    EXPECT_EQ(asked, (QStringList{"Export Run Data", "tank.csv"}));
    const QByteArray values = "time,FV101:POS,P101:SPEED,T101:LEVEL,\"A,\"\"B\"\"\",decimated\r\n"
                              "6,,10,,,\r\n"
                              "7,,20,,,\r\n"
                              "10,,,2.5,,\r\n"
                              "11,0,,3.25,,\r\n"
                              "11.5,,,,-1,\r\n";
    EXPECT_EQ(read("run1.csv"), values);
    EXPECT_EQ(read("run1-firings.csv"), "line,time,written\r\n3,5,\r\n2,11,0\r\n");

    // After the end: the whole run, into the file chosen (its firings beside it).
    sendWhen(c, 13, 4, 0, "A,\"B\"", 0.5);
    c.send(ExecutionFinished, 14);
    settle();
    KD_TRY_VERIFY(r->state == MonitorState::Finished, 5000);
    Modal::setFileHook([&](const QString&, const QString&, const QString&) { return dir.filePath("end.csv"); });
    EXPECT_TRUE(triggerAction(Cmd::ExportRunData));
    EXPECT_EQ(read("end.csv"), values + "13,,,,0.5,\r\n");
    EXPECT_EQ(read("end-firings.csv"), read("run1-firings.csv"));
    Modal::setFileHook(previous);
    c.leave();
}
