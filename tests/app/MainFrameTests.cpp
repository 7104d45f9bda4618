#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "app/KeyboardLocks.h"
#include "core/CSettingsKey.h"
#include "framework/CStatusBar.h"
#include "framework/CommandIds.h"
#include "framework/DocTemplate.h"
#include "framework/MessageBox.h"
#include "res/Resource.h"

#include "tests/common/QtPrinting.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

namespace {

QStringList menuTitles(QMenuBar* bar)
{
    QStringList titles;
    for (QAction* a : bar->actions())
        titles << a->text();
    return titles;
}

QStringList menuItems(QMenuBar* bar, const QString& title)
{
    QStringList items;
    for (QAction* a : bar->actions()) {
        if (a->text() != title || !a->menu())
            continue;
        emit a->menu()->aboutToShow();
        for (QAction* item : a->menu()->actions()) {
            if (!item->isVisible())
                continue;
            items << (item->isSeparator() ? QStringLiteral("-") : item->text());
        }
    }
    return items;
}

class MainFrameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSettings();
        previous = KMessageBox::setHook([this](const KMessageBox::Request& r) {
            boxes << r.text;
            return QMessageBox::No;
        });
        app = std::make_unique<CKelmDeskApp>();
        ASSERT_TRUE(app->initInstance({QStringLiteral("kelmdesk")}));
        frame = app->mainFrame();
    }
    void TearDown() override
    {
        app.reset();
        KMessageBox::setHook(previous);
    }

    std::unique_ptr<CKelmDeskApp> app;
    CMainFrame* frame = nullptr;
    QStringList boxes;
    KMessageBox::Hook previous;
};

TEST_F(MainFrameTest, PlainStartShowsAnEmptyFrameWithMenu128)
{
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(frame->mdiArea()->subWindowList().isEmpty());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("KelmDesk"));
    EXPECT_EQ(menuTitles(frame->menuBar()), (QStringList{"&File", "&View", "&Help"}));
    EXPECT_EQ(menuItems(frame->menuBar(), "&File"), (QStringList{"&New\tCtrl+N", "&Open...\tCtrl+O", "Lo&g On...", "-",
                                                                 "P&rint Setup...", "-", "Recent File", "-", "E&xit"}));
    // The editor's own commands come after the fixed items.
    EXPECT_EQ(menuItems(frame->menuBar(), "&View"),
              (QStringList{"&Toolbar", "&Status Bar", "&Options...", "-", "&Problems", "&Runs"}));
    EXPECT_EQ(menuItems(frame->menuBar(), "&Help"), (QStringList{"&About KelmDesk..."}));
}

TEST_F(MainFrameTest, ProgramDocumentSwitchesToMenu129)
{
    app->onFileNew();
    ASSERT_EQ(frame->mdiArea()->subWindowList().size(), 1);
    EXPECT_EQ(frame->currentMenuId(), Res::ProgramDoc);
    EXPECT_EQ(menuTitles(frame->menuBar()), (QStringList{"&File", "&Edit", "&View", "&Window", "&Help"}));
    EXPECT_EQ(menuItems(frame->menuBar(), "&File"),
              (QStringList{"&New\tCtrl+N", "&Open...\tCtrl+O", "&Close", "Close &Finished Monitors", "&Save\tCtrl+S",
                           "Save &As...", "-", "Lo&g On...", "R&un", "Pars&e", "-", "&Print...\tCtrl+P",
                           "Print Pre&view", "P&rint Setup...", "-", "Recent File", "-", "E&xit"}));
    EXPECT_EQ(menuItems(frame->menuBar(), "&Edit"),
              (QStringList{"&Undo\tCtrl+Z", "-", "Cu&t\tCtrl+X", "&Copy\tCtrl+C", "&Paste\tCtrl+V",
                           "Select A&ll\tCtrl+A", "-", "Insert Model &Variable...", "Insert &Statement...", "-",
                           "&Find...\tCtrl+F", "F&ind Next\tF3", "R&eplace\tCtrl+H", "-", "&Go to Line...\tCtrl+G"}));
    EXPECT_EQ(menuItems(frame->menuBar(), "&Window"),
              (QStringList{"&New Window", "&Cascade", "&Tile", "&Arrange Icons", "-", "&1 Program1"}));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("KelmDesk - Program1"));
}

TEST_F(MainFrameTest, ToolBarButtonsInOrder)
{
    QStringList order;
    for (QAction* a : frame->toolBar()->actions())
        order << (a->isSeparator() ? QStringLiteral("-") : QString::number(a->data().toInt()));
    EXPECT_EQ(order, (QStringList{"57600", "57601", "57603", "-", "32772", "32773", "32774", "-", "57635", "57634",
                                  "57637", "57643", "-", "32780", "-", "57607"}));
    EXPECT_EQ(frame->toolBar()->iconSize(), QSize(16, 15));
    for (QAction* a : frame->toolBar()->actions())
        EXPECT_TRUE(a->isSeparator() || !a->icon().isNull()) << a->toolTip().toStdString();
}

TEST_F(MainFrameTest, StatusBarPanesAndTheirInitialTexts)
{
    CStatusBar* bar = app->statusBar();
    ASSERT_EQ(bar->paneCount(), 6);
    EXPECT_EQ(bar->paneText(0), QStringLiteral("Ready"));
    EXPECT_EQ(bar->paneText(1), QString(61, QLatin1Char(' ')));
    EXPECT_EQ(bar->paneText(2), QString(20, QLatin1Char(' ')) + QStringLiteral("00:00:00 "));
    EXPECT_EQ(bar->paneText(3), QStringLiteral("Not logged on      "));
    // The lock panes show their text only while the lock is on; their width is that of the text.
    EXPECT_TRUE(bar->paneText(4) == QStringLiteral("CAP") || bar->paneText(4).isEmpty());
    EXPECT_TRUE(bar->paneText(5) == QStringLiteral("NUM") || bar->paneText(5).isEmpty());
    EXPECT_GE(bar->pane(4)->width(), bar->pane(4)->fontMetrics().horizontalAdvance(QStringLiteral("CAP")));
    const int widthBefore = bar->pane(3)->width();
    bar->SetPaneText(3, QStringLiteral("No model loaded"));
    EXPECT_EQ(bar->pane(3)->width(), widthBefore) << "panes keep the width of their initial text";
    EXPECT_GT(bar->pane(1)->width(), bar->pane(3)->width());
}

TEST_F(MainFrameTest, PromptsSplitIntoStatusTextAndToolTip)
{
    QAction* stop = frame->action(Cmd::Stop);
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->statusTip(), QStringLiteral("Stop executing KELM program"));
    EXPECT_EQ(stop->toolTip(), QStringLiteral("Stop"));
    EXPECT_EQ(frame->action(Cmd::CloseFinishedMonitors)->statusTip(),
              QStringLiteral("Close all finished monitor windows"));
}

TEST_F(MainFrameTest, ShortcutTable)
{
    auto keys = [this](int id) { return frame->action(id)->shortcuts(); };
    EXPECT_EQ(keys(Cmd::FileNew), QList<QKeySequence>{QKeySequence("Ctrl+N")});
    EXPECT_EQ(keys(Cmd::EditUndo), (QList<QKeySequence>{QKeySequence("Ctrl+Z"), QKeySequence("Alt+Backspace")}));
    EXPECT_EQ(keys(Cmd::EditCut), (QList<QKeySequence>{QKeySequence("Ctrl+X"), QKeySequence("Shift+Del")}));
    EXPECT_EQ(keys(Cmd::EditCopy), (QList<QKeySequence>{QKeySequence("Ctrl+C"), QKeySequence("Ctrl+Ins")}));
    EXPECT_EQ(keys(Cmd::EditPaste), (QList<QKeySequence>{QKeySequence("Ctrl+V"), QKeySequence("Shift+Ins")}));
    EXPECT_EQ(keys(Cmd::EditFindNext), QList<QKeySequence>{QKeySequence("F3")});
    EXPECT_EQ(keys(Cmd::EditReplace), QList<QKeySequence>{QKeySequence("Ctrl+H")});
    EXPECT_EQ(keys(Cmd::NextPane), QList<QKeySequence>{QKeySequence("F6")});
    EXPECT_EQ(keys(Cmd::PrevPane), QList<QKeySequence>{QKeySequence("Shift+F6")});
}

TEST_F(MainFrameTest, CommandStatesWithoutDocumentAndWithAProgram)
{
    frame->updateCommands();
    auto enabled = [this](int id) { return frame->action(id)->isEnabled(); };
    EXPECT_TRUE(enabled(Cmd::FileNew));
    EXPECT_TRUE(enabled(Cmd::FileOpen));
    EXPECT_TRUE(enabled(Cmd::LogOn));
    EXPECT_TRUE(enabled(Cmd::Options));
    EXPECT_FALSE(enabled(Cmd::FileSave));
    EXPECT_FALSE(enabled(Cmd::Run));
    EXPECT_FALSE(enabled(Cmd::Stop));
    EXPECT_FALSE(enabled(Cmd::CloseFinishedMonitors)) << "no finished monitor";
    EXPECT_TRUE(frame->action(Cmd::ViewToolbar)->isChecked());

    app->onFileNew();
    frame->updateCommands();
    EXPECT_TRUE(enabled(Cmd::Parse));
    EXPECT_TRUE(enabled(Cmd::Run));
    EXPECT_TRUE(enabled(Cmd::InsertStatement));
    EXPECT_FALSE(enabled(Cmd::FileSave)) << "a fresh document is not modified";
    EXPECT_FALSE(enabled(Cmd::CloseFinishedMonitors));
    EXPECT_TRUE(enabled(Cmd::WindowNew));

    frame->runCommand(Cmd::ViewToolbar);
    EXPECT_FALSE(frame->toolBar()->isVisibleTo(frame));
    frame->updateCommands();
    EXPECT_FALSE(frame->action(Cmd::ViewToolbar)->isChecked());
}

TEST_F(MainFrameTest, SchedulerTimerFirstTickAfterAboutOneSecond)
{
    auto* timer = frame->findChild<QTimer*>(QStringLiteral("schedulerTimer"));
    ASSERT_TRUE(timer);
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_EQ(timer->interval(), 1000);
    KD_TRY_COMPARE(timer->interval(), 50, 5000);
    EXPECT_TRUE(timer->isActive()) << "re-armed after each tick";
}

TEST_F(MainFrameTest, IdleTicksLeaveTheCommandsAloneButForTheTwiceASecondLook)
{
    // A probe command counts the enabling passes; with nothing arriving, only every tenth tick looks.
    struct ProbeTarget : CommandTarget
    {
        using CommandTarget::onCommand;
    } probe;
    constexpr int Probe = 4242;
    int passes = 0;
    frame->addCommand(Probe, QStringLiteral("Probe"), QStringLiteral("probe"));
    probe.onCommand(
        Probe, [] {},
        [&passes] {
            ++passes;
            return true;
        });
    frame->setAppTarget(&probe);
    auto* timer = frame->findChild<QTimer*>(QStringLiteral("schedulerTimer"));
    ASSERT_TRUE(timer);
    int ticks = 0;
    QObject::connect(timer, &QTimer::timeout, frame, [&ticks] { ++ticks; });
    KD_TRY_VERIFY(ticks >= 1, 5000);
    QCoreApplication::processEvents();
    const int passesBefore = passes;
    const int ticksBefore = ticks;
    KD_TRY_VERIFY(ticks >= ticksBefore + 30, 20000);
    EXPECT_LE(passes - passesBefore, 4) << (ticks - ticksBefore) << " ticks";
    EXPECT_GE(passes - passesBefore, 2) << "the commands are still looked at twice a second";
    frame->setAppTarget(app.get());
}

TEST(EditOnlyMode, DisablesRunAndLogOn)
{
    resetSettings();
    CKelmDeskApp app;
    ASSERT_TRUE(app.initInstance({QStringLiteral("kelmdesk"), QStringLiteral("-editonly")}));
    EXPECT_TRUE(app.m_bEditOnly);
    app.onFileNew();
    CMainFrame* frame = app.mainFrame();
    frame->updateCommands();
    EXPECT_FALSE(frame->action(Cmd::Run)->isEnabled());
    EXPECT_FALSE(frame->action(Cmd::LogOn)->isEnabled());
    EXPECT_TRUE(frame->action(Cmd::Parse)->isEnabled());
    EXPECT_FALSE(frame->action(Cmd::InsertModelVariable)->isEnabled());
    frame->findChild<QMdiArea*>()->closeAllSubWindows();
}

TEST_F(MainFrameTest, FileNewAndOpenUseTheProgramTemplateOnly)
{
    // Monitor first, then program: File New must pass over the monitor kind.
    ASSERT_EQ(app->templates().size(), 2u);
    EXPECT_EQ(app->templates().front()->resourceId(), Res::MonitorDoc);
    EXPECT_EQ(app->findTemplate(QStringLiteral("KELM Program File")), app->templates().back().get());
    EXPECT_EQ(app->findTemplate(QStringLiteral("kelm program file")), nullptr) << "compared byte for byte";
    app->onFileNew();
    app->onFileNew();
    EXPECT_EQ(app->templates().back()->documents().size(), 2u);
    EXPECT_TRUE(app->templates().front()->documents().empty());
}

} // namespace

namespace {
TEST_F(MainFrameTest, CaptionOfAMaximizedProgram)
{
    app->onFileNew();
    QMdiSubWindow* w = frame->mdiArea()->subWindowList().value(0);
    ASSERT_TRUE(w);
    w->showMaximized();
    QCoreApplication::processEvents();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("KelmDesk - [Program1]"));
    w->showNormal();
    QCoreApplication::processEvents();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("KelmDesk - Program1"));
}
} // namespace

namespace {

void writeLed(const QString& folder, const QString& name, const QByteArray& brightness)
{
    QDir().mkpath(folder + QLatin1Char('/') + name);
    QFile f(folder + QLatin1Char('/') + name + QStringLiteral("/brightness"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(brightness);
}

} // namespace

TEST(KeyboardLocks, LedsAreReadEachLookAndTheFolderListedAgainOnlyAfterAWhile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString leds = dir.path();
    writeLed(leds, QStringLiteral("input3::capslock"), "1\n");
    writeLed(leds, QStringLiteral("input3::numlock"), "0\n");
    writeLed(leds, QStringLiteral("input3::scrolllock"), "1\n");
    KeyboardLocks::LedReader reader(leds, std::chrono::hours(1));
    EXPECT_TRUE(reader.isOn(KeyboardLocks::Caps));
    EXPECT_FALSE(reader.isOn(KeyboardLocks::Num));

    // A lock switched is seen at the next look; a keyboard plugged in waits for the next listing.
    writeLed(leds, QStringLiteral("input3::capslock"), "0\n");
    writeLed(leds, QStringLiteral("input9::numlock"), "255\n");
    EXPECT_FALSE(reader.isOn(KeyboardLocks::Caps));
    EXPECT_FALSE(reader.isOn(KeyboardLocks::Num));
    KeyboardLocks::LedReader fresh(leds, std::chrono::milliseconds(0));
    EXPECT_TRUE(fresh.isOn(KeyboardLocks::Num));

    // A keyboard unplugged, an unreadable file and a missing folder read as off, without complaint.
    QDir(leds + QStringLiteral("/input9::numlock")).removeRecursively();
    EXPECT_FALSE(fresh.isOn(KeyboardLocks::Num));
    writeLed(leds, QStringLiteral("input3::capslock"), "");
    EXPECT_FALSE(fresh.isOn(KeyboardLocks::Caps));
    KeyboardLocks::LedReader none(leds + QStringLiteral("/missing"));
    EXPECT_FALSE(none.isOn(KeyboardLocks::Caps));
    EXPECT_FALSE(none.isOn(KeyboardLocks::Num));
}

namespace {

// Counts the paint events the main frame itself gets.
class FramePaints : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && qobject_cast<CMainFrame*>(watched))
            ++count;
        return false;
    }
    int count = 0;
};

} // namespace

TEST(MainFrameStart, TheWindowIsPaintedOnceBeforeTheLogOn)
{
    resetSettings();
    FramePaints paints;
    qApp->installEventFilter(&paints);
    auto app = std::make_unique<CKelmDeskApp>();
    ASSERT_TRUE(app->initInstance({QStringLiteral("kelmdesk")}));
    qApp->removeEventFilter(&paints);
    // Shown and painted before the start-up goes on, and once: the second paint was 2.5 % of the
    // start-up's instructions.
    EXPECT_TRUE(app->mainFrame()->hasPainted());
    EXPECT_EQ(paints.count, 1);
    app.reset();
    resetSettings();
}
