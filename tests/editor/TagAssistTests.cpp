#include "editor/CProblemsPane.h"
#include "editor/CProgramHighlighter.h"
#include "editor/CTagAssist.h"
#include "kernel/KernelConnection.h"
#include "tests/e2e/SimProcess.h"
#include "tests/common/TimeScale.h"
#include "tests/editor/EditorFixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QListWidget>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <csignal>
#include <limits>

namespace {

// The editor against one real norvexsim, paused so that values stay put, for the whole suite.
class TagAssistTest : public EditorFixture
{
protected:
    static void SetUpTestSuite()
    {
        s_base = freePortBase(1);
        ASSERT_NE(s_base, 0);
        s_sim = new SimProcess(s_base, {QStringLiteral("--state"), QStringLiteral("paused")});
        ASSERT_TRUE(s_sim->waitUntilListening()) << s_sim->log().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete s_sim;
        s_sim = nullptr;
    }
    void SetUp() override
    {
        qputenv("NORVEX_PORT_BASE", QByteArray::number(s_base));
        EditorFixture::SetUp();
        app->mainFrame()->show();
        // The list closes when the editor loses the focus, so the window must be the active one.
        app->mainFrame()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(app->mainFrame()));
    }
    void TearDown() override
    {
        EditorFixture::TearDown();
        qunsetenv("NORVEX_PORT_BASE");
    }
    static bool logOn() { return LogOnKernel(QStringLiteral("127.0.0.1"), 0, false); }

    CEditorView* editor()
    {
        CEditorDoc* doc = withText(QString());
        CEditorView* view = viewOf(doc);
        activate(view);
        return view;
    }
    // Keys go where the user's would: to the open list, which hands the text on to the editor.
    static void type(CEditorView* view, const QString& text)
    {
        for (const QChar ch : text) {
            QWidget* to =
                view->completer()->popup()->isVisible() ? static_cast<QWidget*>(view->completer()->popup()) : view;
            QTest::keyClicks(to, QString(ch));
        }
    }
    static void press(CEditorView* view, Qt::Key key)
    {
        QWidget* to =
            view->completer()->popup()->isVisible() ? static_cast<QWidget*>(view->completer()->popup()) : view;
        QTest::keyClick(to, key);
    }
    static QStringList offered(CEditorView* view)
    {
        QStringList names;
        if (!view->completer()->popup()->isVisible())
            return names;
        QAbstractItemModel* m = view->completer()->completionModel();
        for (int r = 0; r < m->rowCount(); ++r)
            names << m->index(r, 0).data().toString();
        return names;
    }
    static QString line(CEditorView* view) { return view->textCursor().block().text(); }
    QStringList problemRows() const
    {
        QStringList rows;
        QListWidget* list = app->mainFrame()->problemsPane()->list();
        for (int i = 0; i < list->count(); ++i)
            rows << list->item(i)->text();
        return rows;
    }
    static bool anyContains(const QStringList& rows, const QString& text)
    {
        return std::any_of(rows.begin(), rows.end(), [&](const QString& r) { return r.contains(text); });
    }
    // Under a display of its own (KELMDESK_SCREENSHOTS and an X server), the whole screen with
    // its pop-ups as NAME.png.
    static void screenshot(const char* name)
    {
        const QString dir = qEnvironmentVariable("KELMDESK_SCREENSHOTS");
        if (dir.isEmpty() || QGuiApplication::platformName() == QLatin1String("offscreen"))
            return;
        QTest::qWait(200);
        QGuiApplication::primaryScreen()->grabWindow(0).save(QDir(dir).filePath(QLatin1String(name) + ".png"));
    }

    static int s_base;
    static SimProcess* s_sim;
};
int TagAssistTest::s_base = 0;
SimProcess* TagAssistTest::s_sim = nullptr;

const QString kWarning = QStringLiteral("T1O1:LEVEL is not a tag of the kernel at 127.0.0.1:0");

TEST_F(TagAssistTest, CompletionOffersBlocksBySubstringTagsAndInsertsWithTheBrace)
{
    ASSERT_TRUE(logOn());
    CEditorView* view = editor();
    type(view, QStringLiteral("{T"));
    ASSERT_TRUE(waitFor([&] { return offered(view).contains(QStringLiteral("T201")); }, 5000));
    QStringList names = offered(view);
    EXPECT_EQ(names.mid(0, 2), (QStringList{QStringLiteral("T101"), QStringLiteral("T201")}));
    EXPECT_EQ(view->completer()->completionModel()->index(0, 1).data().toString(), QStringLiteral("Block"));
    screenshot("completion-open");

    // Substring matches follow the prefix ones: "101" is inside P101 and T101.
    press(view, Qt::Key_Escape);
    activate(view); // a display without a window manager leaves the focus nowhere
    QTest::keyClick(view, Qt::Key_Return);
    type(view, QStringLiteral("{101"));
    ASSERT_TRUE(waitFor([&] { return offered(view).contains(QStringLiteral("P101")); }, 5000))
        << line(view).toStdString() << " / " << offered(view).join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(offered(view).contains(QStringLiteral("T101")));

    // After ":" the block's tags; Enter takes the first and closes the brace.
    press(view, Qt::Key_Escape);
    activate(view); // a display without a window manager leaves the focus nowhere
    QTest::keyClick(view, Qt::Key_Return);
    type(view, QStringLiteral("{T101:"));
    ASSERT_TRUE(waitFor([&] { return offered(view).contains(QStringLiteral("LEVEL")); }, 5000));
    type(view, QStringLiteral("LEV"));
    ASSERT_TRUE(waitFor([&] { return offered(view).value(0) == QStringLiteral("LEVEL"); }, 5000));
    press(view, Qt::Key_Return);
    EXPECT_EQ(line(view), QStringLiteral("{T101:LEVEL}"));
    EXPECT_FALSE(view->completer()->popup()->isVisible());

    // Ctrl+Space inside braces that are closed already: Tab inserts, no second brace.
    activate(view);
    QTest::keyClick(view, Qt::Key_End);
    QTest::keyClick(view, Qt::Key_Return);
    type(view, QStringLiteral("at (5) {P10} = 2"));
    QTextCursor c = view->textCursor();
    c.setPosition(c.block().position() + 11);
    view->setTextCursor(c);
    QTest::keyClick(view, Qt::Key_Space, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return offered(view).value(0) == QStringLiteral("P101"); }, 5000));
    press(view, Qt::Key_Tab);
    EXPECT_EQ(line(view), QStringLiteral("at (5) {P101} = 2"));
}

TEST_F(TagAssistTest, UnknownTagIsAWarningRowThatGoesWhenCorrected)
{
    ASSERT_TRUE(logOn());
    CEditorDoc* doc = withText(QStringLiteral("at (5) {T1O1:LEVEL} = 2\nat (6) {T101:LEVEL} = 3\n"));
    app->mainFrame()->problemsPane()->setDocument(doc);
    ASSERT_TRUE(waitFor([&] { return anyContains(problemRows(), kWarning); }, 5000))
        << problemRows().join("\n").toStdString();
    const QStringList rows = problemRows();
    EXPECT_EQ(rows.size(), 1); // the known tag of line 2 is no warning, and nothing is an error
    EXPECT_TRUE(rows.value(0).endsWith(QStringLiteral(":1: ") + kWarning));
    const std::vector<CProgramHighlighter::Problem> problems = doc->highlighter()->problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_TRUE(problems.front().warning);

    // The hover over the unknown tag says so.
    CEditorView* view = viewOf(doc);
    const QTextBlock first = doc->textDocument()->firstBlock();
    QTextCursor at(first);
    at.setPosition(first.position() + 10);
    const QPoint pos = view->cursorRect(at).center();
    QHelpEvent help(QEvent::ToolTip, pos, view->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(view->viewport(), &help);
    EXPECT_TRUE(waitFor([] { return QToolTip::text().contains(QStringLiteral("is not a tag")); }, 3000));
    screenshot("warning-tooltip");

    // Corrected, the warning goes.
    QTextCursor fix(first);
    fix.setPosition(first.position() + 10);
    fix.setPosition(first.position() + 11, QTextCursor::KeepAnchor);
    fix.insertText(QStringLiteral("0"));
    EXPECT_TRUE(waitFor([&] { return problemRows().isEmpty(); }, 5000)) << problemRows().join("\n").toStdString();
}

TEST_F(TagAssistTest, NoWarningsWhileLoggedOff)
{
    CEditorDoc* doc = withText(QStringLiteral("at (5) {T1O1:LEVEL} = 2\n"));
    app->mainFrame()->problemsPane()->setDocument(doc);
    doc->highlighter()->checkNow();
    QTest::qWait(3 * CTagAssist::SyncMs);
    doc->highlighter()->checkNow();
    EXPECT_TRUE(problemRows().isEmpty());
    EXPECT_TRUE(CTagAssist::instance().knowledge().kernel().isEmpty());
}

TEST_F(TagAssistTest, HoverShowsTheLiveValueTypeAndBlock)
{
    ASSERT_TRUE(logOn());
    CEditorDoc* doc = withText(QStringLiteral("when {T101:LEVEL} > 2 stop\n"));
    CEditorView* view = viewOf(doc);
    const QTextBlock first = doc->textDocument()->firstBlock();
    QTextCursor at(first);
    at.setPosition(first.position() + 8);
    const QPoint pos = view->cursorRect(at).center();
    QHelpEvent help(QEvent::ToolTip, pos, view->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(view->viewport(), &help);
    ASSERT_TRUE(waitFor([] { return QToolTip::text().contains(QStringLiteral("T101:LEVEL = ")); }, 5000))
        << QToolTip::text().toStdString();
    EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("Type: DBLE")));
    EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("Buffer tank line 1")));
    screenshot("hover-value");
}

TEST_F(TagAssistTest, AKernelThatNeverAnswersLeavesTypingResponsive)
{
    ASSERT_TRUE(logOn());
    CEditorView* view = editor();
    CTagAssist::instance().sync();
    ::kill(pid_t(s_sim->pid()), SIGSTOP); // the kernel stops answering, its connections stay open
    QString text;
    while (text.size() < 200)
        text += QStringLiteral("when {T101:LEVEL} > 2 ramp {P101:SPEED} to 5 in 10 ");
    text.truncate(200);
    // A request that blocked the editor would cost seconds in every round; a round slowed by other
    // work on the machine is typed again, at most twice more, each time with the cache dropped.
    qint64 best = std::numeric_limits<qint64>::max();
    for (int round = 0; round < 3 && best >= scaledMs(50); ++round) {
        CTagAssist::instance().knowledge().invalidate();
        const int askedBefore = CTagAssist::instance().knowledge().asked();
        QTextCursor all = view->textCursor();
        all.select(QTextCursor::BlockUnderCursor);
        all.removeSelectedText();
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        qint64 worst = 0;
        QTimer tick;
        tick.setInterval(5);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            worst = std::max(worst, clock.elapsed() - last);
            last = clock.elapsed();
        });
        tick.start();
        for (const QChar ch : text) {
            type(view, QString(ch));
            QTest::qWait(10);
        }
        tick.stop();
        EXPECT_EQ(line(view).size(), 200);
        EXPECT_LE(CTagAssist::instance().knowledge().asked() - askedBefore, 40) << "requests while typing a line";
        best = std::min(best, worst);
    }
    ::kill(pid_t(s_sim->pid()), SIGCONT);
    RecordProperty("longest_gap_ms", int(best));
    EXPECT_LT(best, scaledMs(50)) << "longest gap of the event loop while typing, ms";
}

} // namespace
