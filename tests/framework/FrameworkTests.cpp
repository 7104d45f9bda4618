#include "framework/AppTitle.h"
#include "framework/CChildFrame.h"
#include "framework/CDocument.h"
#include "framework/CMDIFrame.h"
#include "framework/CView.h"
#include "framework/CommandIds.h"
#include "framework/DocTemplate.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "framework/RecentFileList.h"

#include "tests/common/QtPrinting.h"
#include "tests/common/TestSupport.h"
#include "tests/common/TimeScale.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int CmdDocOnly = 40001;
constexpr int CmdViewOnly = 40002;
constexpr int CmdFrameDisabled = 40003;
constexpr int CmdShadowed = 40004; // handled by view, document and frame alike

class TestDoc : public CDocument
{
public:
    TestDoc()
    {
        onCommand(CmdDocOnly, [this] { ++docRuns; });
        onCommand(CmdShadowed, [this] { ++shadowedRuns; });
    }
    int shadowedRuns = 0;
    ~TestDoc() override { ++destroyed; }
    bool onOpenDocument(const QString& path) override
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        text = QString::fromUtf8(f.readAll());
        return true;
    }
    bool onSaveDocument(const QString& path) override
    {
        if (failSaves)
            return false;
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0;
    }
    QString text;
    bool failSaves = false;
    int docRuns = 0;
    static inline int destroyed = 0;
};

class TestView : public QLabel, public CView
{
public:
    explicit TestView(CDocument* d) : CView(d)
    {
        onCommand(CmdViewOnly, [this] { ++runs; });
        onCommand(
            CmdShadowed, [this] { ++shadowedRuns; }, [this] { return shadowedEnabled; });
    }
    int shadowedRuns = 0;
    bool shadowedEnabled = true;
    QWidget* widget() override { return this; }
    void onInitialUpdate() override { ++initialUpdates; }
    int runs = 0;
    int initialUpdates = 0;
};

class TestFrame : public CChildFrame
{
public:
    explicit TestFrame(CDocument* d) : CChildFrame(d)
    {
        setWidget(new TestView(d));
        onCommand(
            CmdFrameDisabled, [] {}, [] { return false; });
    }
};

class TestMainFrame : public CMDIFrame
{
public:
    CDocument* openDocumentFile(const QString& path) override { return tmpl ? tmpl->openDocumentFile(path) : nullptr; }
    DocTemplate* tmpl = nullptr;
};

class FrameworkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings().clear();
        RecentFileList::instance().reload();
        previousBox = KMessageBox::setHook([this](const KMessageBox::Request& r) {
            boxes.append(r.text);
            return answer;
        });
        frame = std::make_unique<TestMainFrame>();
        for (int id : {CmdDocOnly, CmdViewOnly, CmdFrameDisabled, CmdShadowed, int(Cmd::FileSave), int(Cmd::WindowNew),
                       int(Cmd::FileClose), int(Cmd::AppExit)})
            frame->addCommand(id, QStringLiteral("cmd"), QStringLiteral("status\ntip"));
        tmpl = std::make_unique<DocTemplate>(
            129,
            QStringLiteral("\nProgram\nKELM Program File\nKELM Files (*.kelm)\n.kelm\nKELM.Document\nKELM Document"),
            [] { return std::make_unique<TestDoc>(); }, [](CDocument* d) { return new TestFrame(d); });
        frame->tmpl = tmpl.get();
        frame->show();
    }
    void TearDown() override
    {
        frame.reset();
        tmpl.reset();
        KMessageBox::setHook(previousBox);
        Modal::setFileHook({});
    }
    QString writeFile(const QString& name, const QByteArray& bytes) { return writeFileIn(dir.path(), name, bytes); }

    QTemporaryDir dir;
    std::unique_ptr<TestMainFrame> frame;
    std::unique_ptr<DocTemplate> tmpl;
    QStringList boxes;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    KMessageBox::Hook previousBox;
};

TEST_F(FrameworkTest, DocumentStringFieldsAndUntitledNames)
{
    EXPECT_EQ(tmpl->field(DocTemplate::WindowTitle), QString());
    EXPECT_EQ(tmpl->field(DocTemplate::DocName), QStringLiteral("Program"));
    EXPECT_EQ(tmpl->field(DocTemplate::FileNewName), QStringLiteral("KELM Program File"));
    EXPECT_EQ(tmpl->field(DocTemplate::FilterName), QStringLiteral("KELM Files (*.kelm)"));
    EXPECT_EQ(tmpl->field(DocTemplate::FilterExt), QStringLiteral(".kelm"));
    EXPECT_EQ(tmpl->field(DocTemplate::RegFileTypeId), QStringLiteral("KELM.Document"));
    EXPECT_EQ(tmpl->field(DocTemplate::RegFileTypeName), QStringLiteral("KELM Document"));

    CDocument* a = tmpl->openDocumentFile(QString());
    CDocument* b = tmpl->openDocumentFile(QString());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->title(), QStringLiteral("Program1"));
    EXPECT_EQ(b->title(), QStringLiteral("Program2"));
    EXPECT_EQ(tmpl->documents().size(), 2u);
    EXPECT_EQ(frame->mdiArea()->subWindowList().size(), 2);
    auto* view = dynamic_cast<TestView*>(a->views().constFirst());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->initialUpdates, 1);
}

TEST_F(FrameworkTest, OpeningTheSameFileTwiceActivatesTheOpenDocument)
{
    const QString path = writeFile(QStringLiteral("a.kelm"), "x");
    CDocument* first = tmpl->openDocumentFile(path);
    CDocument* second = tmpl->openDocumentFile(path);
    EXPECT_EQ(first, second);
    EXPECT_EQ(tmpl->documents().size(), 1u);
    EXPECT_EQ(first->title(), QStringLiteral("a.kelm"));
    EXPECT_EQ(RecentFileList::instance().files().value(0), first->pathName());
}

TEST_F(FrameworkTest, FailedOpenLeavesNoDocumentOrWindow)
{
    EXPECT_EQ(tmpl->openDocumentFile(dir.filePath(QStringLiteral("missing.kelm"))), nullptr);
    EXPECT_TRUE(tmpl->documents().empty());
    EXPECT_TRUE(frame->mdiArea()->subWindowList().isEmpty());
}

TEST_F(FrameworkTest, CommandsAreRoutedAndDisabledWithoutHandler)
{
    frame->updateCommands();
    EXPECT_FALSE(frame->action(CmdDocOnly)->isEnabled()) << "no document: nobody handles it";
    EXPECT_TRUE(frame->action(Cmd::AppExit)->isEnabled()) << "the main frame handles Exit";

    auto* doc = static_cast<TestDoc*>(tmpl->openDocumentFile(QString()));
    frame->mdiArea()->setActiveSubWindow(doc->frames().constFirst());
    frame->updateCommands();
    EXPECT_TRUE(frame->action(CmdDocOnly)->isEnabled());
    EXPECT_TRUE(frame->action(CmdViewOnly)->isEnabled());
    EXPECT_FALSE(frame->action(CmdFrameDisabled)->isEnabled()) << "the frame's rule says no";

    frame->action(CmdDocOnly)->trigger();
    EXPECT_EQ(doc->docRuns, 1);
    EXPECT_FALSE(frame->runCommand(CmdFrameDisabled));
}

TEST_F(FrameworkTest, TheFirstTargetOfTheChainOwnsTheCommandAndItsRule)
{
    auto* doc = static_cast<TestDoc*>(tmpl->openDocumentFile(QString()));
    auto* view = dynamic_cast<TestView*>(doc->views().constFirst());
    frame->mdiArea()->setActiveSubWindow(doc->frames().constFirst());
    frame->action(CmdShadowed)->trigger();
    EXPECT_EQ(view->shadowedRuns, 1);
    EXPECT_EQ(doc->shadowedRuns, 0) << "the view comes before the document";
    view->shadowedEnabled = false;
    frame->updateCommands();
    EXPECT_FALSE(frame->action(CmdShadowed)->isEnabled()) << "the owner's rule is final, no fall-through";
    EXPECT_FALSE(frame->runCommand(CmdShadowed));
    EXPECT_EQ(doc->shadowedRuns, 0);
}

TEST_F(FrameworkTest, CaptionFollowsTheActiveDocument)
{
    frame->setWindowTitle(QStringLiteral("App"));
    auto* doc = static_cast<TestDoc*>(tmpl->openDocumentFile(QString()));
    CChildFrame* child = doc->frames().constFirst();
    frame->mdiArea()->setActiveSubWindow(child);
    EXPECT_TRUE(frame->windowTitle().endsWith(QStringLiteral(" - Program1")));
    doc->setPathName(dir.filePath(QStringLiteral("renamed.kelm")), false);
    EXPECT_TRUE(frame->windowTitle().endsWith(QStringLiteral(" - renamed.kelm"))) << frame->windowTitle().toStdString();
    child->showMaximized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(frame->windowTitle().endsWith(QStringLiteral(" - [renamed.kelm]")))
        << frame->windowTitle().toStdString();
    EXPECT_EQ(frame->windowTitle().count(QStringLiteral("renamed.kelm")), 1) << frame->windowTitle().toStdString();
    child->showNormal();
    QCoreApplication::processEvents();
    EXPECT_TRUE(frame->windowTitle().endsWith(QStringLiteral(" - renamed.kelm"))) << frame->windowTitle().toStdString();
}

TEST_F(FrameworkTest, ExitAsksEveryModifiedDocumentBeforeClosingAny)
{
    QList<TestDoc*> docs;
    for (int i = 0; i < 3; ++i) {
        docs << static_cast<TestDoc*>(tmpl->openDocumentFile(QString()));
        docs.last()->setModified(true);
    }
    int asked = 0;
    KMessageBox::setHook(
        [&](const KMessageBox::Request&) { return ++asked == 2 ? QMessageBox::Cancel : QMessageBox::No; });
    EXPECT_FALSE(frame->close());
    EXPECT_EQ(asked, 2) << "the third is not asked after a Cancel";
    EXPECT_EQ(tmpl->documents().size(), 3u) << "nothing closed, not even the one answered No";
    for (TestDoc* d : docs)
        EXPECT_TRUE(d->isModified());
    KMessageBox::setHook([&](const KMessageBox::Request&) {
        ++asked;
        return QMessageBox::No;
    });
    asked = 0;
    EXPECT_TRUE(frame->close());
    EXPECT_EQ(asked, 3) << "each asked once";
    EXPECT_TRUE(tmpl->documents().empty());
}

TEST_F(FrameworkTest, WindowMenuListsTheOpenWindows)
{
    auto* windowMenu = new QMenu(QStringLiteral("&Window"), frame.get());
    windowMenu->addAction(QStringLiteral("&Cascade"));
    frame->addWindowListTo(windowMenu);
    CDocument* a = tmpl->openDocumentFile(QString());
    tmpl->openDocumentFile(QString());
    emit windowMenu->aboutToShow();
    QStringList texts;
    for (QAction* act : windowMenu->actions())
        texts << (act->isSeparator() ? QStringLiteral("-") : act->text());
    EXPECT_EQ(texts, (QStringList{"&Cascade", "-", "&1 Program1", "&2 Program2"}));
    windowMenu->actions().at(2)->trigger();
    EXPECT_EQ(frame->activeDocument(), a);
    emit windowMenu->aboutToShow();
    EXPECT_EQ(windowMenu->actions().size(), 4) << "entries are rebuilt, not added again";
}

TEST_F(FrameworkTest, NewWindowSharesTheDocumentAndTitlesCountWindows)
{
    CDocument* doc = tmpl->openDocumentFile(QString());
    CChildFrame* second = tmpl->createNewFrame(doc);
    ASSERT_TRUE(second);
    EXPECT_EQ(doc->frames().size(), 2);
    EXPECT_EQ(second->windowTitle(), QStringLiteral("Program1:2"));
    second->close();
    EXPECT_EQ(doc->frames().size(), 1);
    EXPECT_EQ(tmpl->documents().size(), 1u) << "closing one of two windows keeps the document";
}

TEST_F(FrameworkTest, ClosingTheLastWindowOfAModifiedDocumentAsks)
{
    auto* doc = static_cast<TestDoc*>(tmpl->openDocumentFile(QString()));
    doc->setModified(true);
    CChildFrame* f = doc->frames().constFirst();

    answer = QMessageBox::Cancel;
    EXPECT_FALSE(f->close());
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes.constFirst(), QStringLiteral("Save changes to Program1?"));
    EXPECT_EQ(tmpl->documents().size(), 1u);

    answer = QMessageBox::No;
    const int before = TestDoc::destroyed;
    EXPECT_TRUE(f->close());
    EXPECT_EQ(TestDoc::destroyed, before + 1);
    EXPECT_TRUE(tmpl->documents().empty());
}

TEST_F(FrameworkTest, SaveAsCancelledOrFailedKeepsTheDocumentModified)
{
    auto* doc = static_cast<TestDoc*>(tmpl->openDocumentFile(QString()));
    doc->text = QStringLiteral("hello");
    doc->setModified(true);

    Modal::setFileHook([](const QString&, const QString&, const QString&) { return QString(); });
    EXPECT_FALSE(doc->doFileSave());
    EXPECT_TRUE(doc->isModified());

    const QString target = dir.filePath(QStringLiteral("named"));
    QString proposedSeen;
    Modal::setFileHook([&](const QString&, const QString&, const QString& proposed) {
        proposedSeen = proposed;
        return target; // NOLINT(performance-no-automatic-move): captured by reference, never moved
    });
    doc->failSaves = true;
    EXPECT_FALSE(doc->doFileSave());
    EXPECT_TRUE(doc->isModified());
    EXPECT_TRUE(doc->pathName().isEmpty());
    EXPECT_EQ(proposedSeen, QStringLiteral("Program1.kelm"));

    doc->failSaves = false;
    EXPECT_TRUE(doc->doFileSave());
    EXPECT_FALSE(doc->isModified());
    EXPECT_EQ(doc->pathName(), target + QStringLiteral(".kelm")) << "the extension is added to a bare name";
    EXPECT_TRUE(QFile::exists(target + QStringLiteral(".kelm")));
}

TEST_F(FrameworkTest, ExitRefusedWhileADocumentRefusesToClose)
{
    auto* doc = static_cast<TestDoc*>(tmpl->openDocumentFile(QString()));
    doc->setModified(true);
    answer = QMessageBox::Cancel;
    EXPECT_FALSE(frame->close());
    EXPECT_EQ(tmpl->documents().size(), 1u);
    answer = QMessageBox::No;
    EXPECT_TRUE(frame->close());
    EXPECT_TRUE(tmpl->documents().empty());
}

TEST_F(FrameworkTest, MenuSetFollowsTheActiveDocumentKind)
{
    auto* noDoc = new QMenu(QStringLiteral("&File"), frame.get());
    auto* program = new QMenu(QStringLiteral("&Edit"), frame.get());
    frame->setNoDocumentMenuId(128);
    frame->setMenuSet(128, {noDoc});
    frame->setMenuSet(129, {noDoc, program});
    EXPECT_EQ(frame->currentMenuId(), 128);
    EXPECT_EQ(frame->menuBar()->actions().size(), 1);

    CDocument* doc = tmpl->openDocumentFile(QString());
    frame->mdiArea()->setActiveSubWindow(doc->frames().constFirst());
    EXPECT_EQ(frame->currentMenuId(), 129);
    EXPECT_EQ(frame->menuBar()->actions().size(), 2);

    DocTemplate monitors(
        130, QStringLiteral("\nMonitor\nKELM Monitor\n\n\n\n"), [] { return std::make_unique<TestDoc>(); },
        [](CDocument* d) { return new TestFrame(d); });
    auto* status = new QMenu(QStringLiteral("&Window"), frame.get());
    frame->setMenuSet(130, {noDoc, status, program});
    CDocument* monitor = monitors.openDocumentFile(QString());
    ASSERT_TRUE(monitor);
    EXPECT_EQ(monitor->title(), QStringLiteral("Monitor1"));
    frame->mdiArea()->setActiveSubWindow(monitor->frames().constFirst());
    EXPECT_EQ(frame->currentMenuId(), 130);
    EXPECT_EQ(frame->menuBar()->actions().size(), 3);
    frame->mdiArea()->setActiveSubWindow(doc->frames().constFirst());
    EXPECT_EQ(frame->currentMenuId(), 129) << "back with the program window";

    monitor->frames().constFirst()->close();
    doc->frames().constFirst()->close();
    EXPECT_EQ(frame->currentMenuId(), 128);
}

TEST_F(FrameworkTest, RecentFilesOpenAndAMissingOneIsDropped)
{
    const QString kept = writeFile(QStringLiteral("kept.kelm"), "x");
    RecentFileList::instance().add(dir.filePath(QStringLiteral("gone.kelm")));
    RecentFileList::instance().add(kept);
    frame->addCommand(Cmd::FileMru1, QString(), QString());
    frame->addCommand(Cmd::FileMru1 + 1, QString(), QString());
    frame->updateCommands();
    EXPECT_TRUE(frame->action(Cmd::FileMru1 + 1)->isEnabled());
    ASSERT_TRUE(frame->runCommand(Cmd::FileMru1));
    ASSERT_EQ(tmpl->documents().size(), 1u);
    EXPECT_EQ(tmpl->documents().front()->pathName(), kept);
    ASSERT_TRUE(frame->runCommand(Cmd::FileMru1 + 1));
    EXPECT_EQ(RecentFileList::instance().files(), QStringList{kept}) << "the missing file leaves the list";
}

TEST(RecentFileList, KeepsFourNewestFirstWithoutDuplicates)
{
    QSettings().clear();
    RecentFileList& list = RecentFileList::instance();
    list.reload();
    for (const char* p : {"/a", "/b", "/c", "/d", "/e", "/c", "/C"})
        list.add(QString::fromLatin1(p));
    EXPECT_EQ(list.files(), (QStringList{"/C", "/c", "/e", "/d"})) << "paths differing in case are distinct files";
    list.remove(QStringLiteral("/C"));
    list.remove(QStringLiteral("/e"));
    EXPECT_EQ(list.files(), (QStringList{"/c", "/d"}));
    list.reload();
    EXPECT_EQ(list.files(), (QStringList{"/c", "/d"})) << "kept in the store";
    QSettings settings;
    EXPECT_EQ(settings.value(QStringLiteral("Recent File List/File1")).toString(), QStringLiteral("/c"));
    EXPECT_FALSE(settings.contains(QStringLiteral("settings/File1"))) << "kept outside the settings group";
}

TEST(MessageBoxHook, ReceivesPlainTextAndCaption)
{
    AppTitle::set(QStringLiteral("KelmDesk"));
    KMessageBox::Request seen;
    auto previous = KMessageBox::setHook([&](const KMessageBox::Request& r) {
        seen = r;
        return QMessageBox::Ok;
    });
    KMessageBox::show(QStringLiteral("<b>not bold</b>"), KMessageBox::Icon::Stop);
    KMessageBox::setHook(previous);
    EXPECT_EQ(seen.text, QStringLiteral("<b>not bold</b>"));
    EXPECT_EQ(seen.caption, QStringLiteral("KelmDesk"));
    EXPECT_EQ(seen.icon, KMessageBox::Icon::Stop);
}

TEST(MessageBoxPost, BoxesComeAfterTheCallerOneAtATimeInOrder)
{
    QStringList events;
    auto previous = KMessageBox::setHook([&](const KMessageBox::Request& r) {
        events << QStringLiteral("up ") + r.text;
        if (r.text == QStringLiteral("first")) {
            KMessageBox::post(QStringLiteral("third"), KMessageBox::Icon::None, nullptr,
                              [&] { events << QStringLiteral("closed third"); });
            QCoreApplication::processEvents(); // the event loop turns while the box is up
        }
        return QMessageBox::Ok;
    });
    KMessageBox::post(QStringLiteral("first"), KMessageBox::Icon::None, nullptr,
                      [&] { events << QStringLiteral("closed first"); });
    KMessageBox::post(QStringLiteral("second"), KMessageBox::Icon::None, nullptr);
    events << QStringLiteral("caller done");
    const bool allShown = QTest::qWaitFor([&] { return events.size() == 6; }, scaledMs(5000));
    KMessageBox::setHook(previous);
    EXPECT_TRUE(allShown);
    EXPECT_EQ(events,
              (QStringList{"caller done", "up first", "closed first", "up second", "up third", "closed third"}));
}

} // namespace
