#include "EditorFixture.h"
#include "editor/Autosave.h"
#include "editor/CProgramHighlighter.h"
#include "editor/CRecoveryDlg.h"
#include "framework/CommandIds.h"
#include "tests/common/ChildProcess.h"
#include "tests/common/ScratchMount.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

class Autosaving : public EditorFixture
{
public:
    static QStringList sideFiles()
    {
        QStringList out;
        const QDir base(Autosave::root());
        for (const QFileInfo& d : base.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QFileInfo& f : QDir(d.absoluteFilePath()).entryInfoList({"*.autosave"}, QDir::Files))
                out << f.absoluteFilePath();
        return out;
    }

protected:
    void type(CEditorDoc* doc, const QString& text)
    {
        QTextCursor c(doc->textDocument()->findBlockByNumber(1));
        c.insertText(text);
    }
};

TEST_F(Autosaving, WritesASideFileAndNeverTheOriginal)
{
    const QByteArray bytes = "* tank\r\nat (1) {A} = 1\r\nafter (2) stop\r\n";
    const QString file = writeFile(QStringLiteral("tank.kelm"), bytes);
    const QDateTime mtime = QFileInfo(file).lastModified();
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    EXPECT_TRUE(doc->autosaveFile().isEmpty());

    type(doc, QStringLiteral("at (5) {B} = 2\n"));
    QTimer* timer = nullptr;
    for (QTimer* t : doc->findChildren<QTimer*>())
        if (t->interval() == CEditorDoc::AutosaveDelayMs)
            timer = t;
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive()); // armed by the change
    doc->autosaveNow();
    const QString side = doc->autosaveFile();
    ASSERT_FALSE(side.isEmpty());
    EXPECT_TRUE(side.startsWith(Autosave::root() + QLatin1Char('/')));
    Autosave::Entry entry;
    ASSERT_TRUE(Autosave::read(side, entry));
    EXPECT_EQ(entry.originalPath, file);
    EXPECT_EQ(entry.encoding, QStringLiteral("UTF-8"));
    EXPECT_EQ(entry.text, doc->text());
    EXPECT_EQ(Autosave::firstDifference(entry), QStringLiteral("line 2: at (5) {B} = 2"));
    EXPECT_EQ(readBytes(file), bytes);
    EXPECT_EQ(QFileInfo(file).lastModified(), mtime);
    EXPECT_TRUE(doc->isModified());

    // Saving writes the original and removes the side file.
    ASSERT_TRUE(run(doc, Cmd::FileSave));
    EXPECT_FALSE(QFileInfo::exists(side));
    EXPECT_TRUE(doc->autosaveFile().isEmpty());

    // Closing without saving removes it too.
    type(doc, QStringLiteral("stop\n"));
    doc->autosaveNow();
    const QString second = doc->autosaveFile();
    ASSERT_TRUE(QFileInfo::exists(second));
    nextAnswer = QMessageBox::No;
    ASSERT_TRUE(run(doc, Cmd::FileClose));
    EXPECT_FALSE(QFileInfo::exists(second));
    EXPECT_TRUE(sideFiles().isEmpty());
}

TEST_F(Autosaving, AFullDiskKeepsThePreviousSideFileWhole)
{
    const QString folder = path(QStringLiteral("small"));
    ScratchMount disk(folder, "64k");
    if (!disk.ok())
        GTEST_SKIP() << disk.why();
    const QString side = folder + QStringLiteral("/1.autosave");
    const QString original = path(QStringLiteral("tank.kelm"));
    ASSERT_EQ(Autosave::write(side, original, QStringLiteral("UTF-8"), QStringLiteral("at (1) stop\n")), side);

    // 200 KB of text cannot fit on a 64 KB disk: the write fails and the earlier copy stays readable.
    const QString big = QStringLiteral("at (5) {T1} = 3\n").repeated(12500);
    EXPECT_TRUE(Autosave::write(side, original, QStringLiteral("UTF-8"), big).isEmpty());
    Autosave::Entry entry;
    ASSERT_TRUE(Autosave::read(side, entry));
    EXPECT_EQ(entry.text, QStringLiteral("at (1) stop\n"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("1.autosave")});
}

TEST_F(Autosaving, WritesInAPauseAndOnlyWhatItDoesNotHoldYet)
{
    const QString file = writeFile(QStringLiteral("tank.kelm"), "* tank\nat (1) {A} = 1\n");
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    QTimer* delay = nullptr;
    QTimer* pause = nullptr;
    for (QTimer* t : doc->findChildren<QTimer*>()) {
        if (t->interval() == CEditorDoc::AutosaveDelayMs)
            delay = t;
        else if (t->interval() == CEditorDoc::AutosaveIdleMs)
            pause = t;
    }
    ASSERT_NE(delay, nullptr);
    ASSERT_NE(pause, nullptr);
    EXPECT_FALSE(delay->isActive());
    EXPECT_FALSE(pause->isActive());

    type(doc, QStringLiteral("at (5) {B} = 2\n"));
    ASSERT_TRUE(delay->isActive());
    const int left = delay->remainingTime();
    // Typing on does not put the latest write off.
    type(doc, QStringLiteral("after (2) stop\n"));
    EXPECT_LE(delay->remainingTime(), left);
    EXPECT_TRUE(pause->isActive());

    KD_TRY_VERIFY(!doc->autosaveFile().isEmpty(), CEditorDoc::AutosaveIdleMs + 5000);
    Autosave::Entry entry;
    ASSERT_TRUE(Autosave::read(doc->autosaveFile(), entry));
    EXPECT_EQ(entry.text, doc->text());
    EXPECT_FALSE(delay->isActive());
    EXPECT_FALSE(pause->isActive());

    // Colouring, checking and moving the caret change no text: nothing is due.
    CEditorView* view = viewOf(doc);
    doc->highlighter()->checkNow();
    view->highlightShown();
    QApplication::setPalette(QApplication::palette()); // no change, no recolouring
    setCaret(view, 3);
    EXPECT_FALSE(delay->isActive());
    EXPECT_FALSE(pause->isActive());

    type(doc, QStringLiteral("stop\n"));
    EXPECT_TRUE(pause->isActive());
    KD_TRY_VERIFY(!pause->isActive(), CEditorDoc::AutosaveIdleMs + 5000);
    ASSERT_TRUE(Autosave::read(doc->autosaveFile(), entry));
    EXPECT_EQ(entry.text, doc->text());
}

// A real KelmDesk, started as the desktop starts it ("-open FILE"), into which the typist types text
// as a user would. Its side files go where this program's KelmDesk looks under home (QStandardPaths'
// test mode reads $HOME/.qttest/share); its settings and single-instance socket are its own.
class RealKelmDesk
{
public:
    RealKelmDesk(const QString& home, const QString& file, const QString& text)
    {
        m_runtime.setAutoRemove(true);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.qttest/share"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_runtime.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(KELMDESK_TYPIST));
        // In the sanitizer build the preloaded typist comes before the sanitizer's runtime.
        const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) + QStringLiteral("verify_asan_link_order=0"));
        env.insert(QStringLiteral("KELMDESK_TYPIST_TEXT"), text);
        m_process.setProcessEnvironment(env);
        endWithTest(m_process);
        m_process.start(QStringLiteral(KELMDESK_BINARY), {QStringLiteral("-open"), file, QStringLiteral("-editonly")});
    }
    ~RealKelmDesk() { kill(); }

    // Waits until the text is typed and a side file holds it; false when that does not come.
    bool waitForSideFile(const QString& text, QString* sideFile)
    {
        QByteArray out;
        const bool typed = QTest::qWaitFor(
            [&] {
                out += m_process.readAllStandardOutput();
                return out.contains("TYPED") || m_process.state() == QProcess::NotRunning;
            },
            scaledMs(20000));
        if (!typed || !out.contains("TYPED"))
            return false;
        // Written in the first pause after typing, without anyone asking for it.
        return QTest::qWaitFor(
                   [&] {
                       for (const QString& f : Autosaving::sideFiles()) {
                           Autosave::Entry e;
                           if (Autosave::read(f, e) && e.text.contains(text) && !m_known.contains(f)) {
                               *sideFile = f;
                               return true;
                           }
                       }
                       return m_process.state() == QProcess::NotRunning;
                   },
                   scaledMs(CEditorDoc::AutosaveIdleMs + 15000)) &&
               !sideFile->isEmpty();
    }
    // The side files present before this process wrote its own.
    void ignore(const QStringList& files) { m_known = files; }
    // SIGKILL: no clean-up of any kind runs.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(10000);
    }

private:
    QTemporaryDir m_runtime;
    QProcess m_process;
    QStringList m_known;
};

TEST_F(Autosaving, RecoversTheTextOfAKilledKelmDeskButNotOfARunningOne)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit()); // where sideFiles() and the next KelmDesk look
    const QByteArray bytes = "* tank\nat (1) {A} = 1\n";
    const QString killedFile = writeFile(QStringLiteral("killed.kelm"), bytes);
    const QString runningFile = writeFile(QStringLiteral("running.kelm"), bytes);
    const QDateTime mtime = QFileInfo(killedFile).lastModified();

    RealKelmDesk killed(home.path(), killedFile, QStringLiteral("at (9) {RECOVERED} = 1\n"));
    QString killedSide;
    ASSERT_TRUE(killed.waitForSideFile(QStringLiteral("{RECOVERED}"), &killedSide));
    EXPECT_EQ(readBytes(killedFile), bytes);
    EXPECT_EQ(QFileInfo(killedFile).lastModified(), mtime);
    // Started while the first runs, the second finds nothing to recover.
    RealKelmDesk running(home.path(), runningFile, QStringLiteral("after (7) stop\n"));
    running.ignore(sideFiles());
    QString runningSide;
    ASSERT_TRUE(running.waitForSideFile(QStringLiteral("after (7) stop"), &runningSide));
    killed.kill();
    ASSERT_TRUE(QFileInfo::exists(killedSide)) << "a killed process leaves its side file";

    // The next KelmDesk to start offers the killed one's text, and not the running one's.
    std::vector<QStringList> offered;
    onDialog = [&](QDialog& d) {
        auto* dlg = qobject_cast<CRecoveryDlg*>(&d);
        ASSERT_NE(dlg, nullptr);
        QStringList rows;
        for (int i = 0; i < dlg->list()->topLevelItemCount(); ++i)
            rows << dlg->list()->topLevelItem(i)->text(0) + QLatin1Char('|') + dlg->list()->topLevelItem(i)->text(2);
        offered.push_back(rows);
        dlg->list()->setCurrentItem(dlg->list()->topLevelItem(0));
        dlg->restoreButton()->click();
    };
    app.reset();
    app = std::make_unique<CKelmDeskApp>();
    ASSERT_TRUE(app->initInstance({QStringLiteral("kelmdesk")}));
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0], QStringList{QDir::toNativeSeparators(killedFile) + "|line 1: at (9) {RECOVERED} = 1"});
    EXPECT_FALSE(QFileInfo::exists(killedSide));
    std::vector<CDocument*> docs = app->mainFrame()->openDocuments(QStringLiteral("KELM Program File"));
    ASSERT_EQ(docs.size(), 1u);
    auto* restored = qobject_cast<CEditorDoc*>(docs[0]);
    EXPECT_EQ(restored->pathName(), killedFile);
    EXPECT_EQ(restored->text(), QStringLiteral("at (9) {RECOVERED} = 1\n* tank\nat (1) {A} = 1\n"));
    EXPECT_TRUE(restored->isModified());
    EXPECT_EQ(readBytes(killedFile), bytes);
    restored->doFileSave(); // a save writes the recovered text to the original
    EXPECT_EQ(readBytes(killedFile), QByteArray("at (9) {RECOVERED} = 1\n* tank\nat (1) {A} = 1\n"));

    // Nothing more to offer while the other process runs; once it is killed, Discard drops its file.
    offered.clear();
    app->offerRecovery();
    EXPECT_TRUE(offered.empty());
    EXPECT_TRUE(QFileInfo::exists(runningSide));
    running.kill();
    onDialog = [&](QDialog& d) {
        auto* dlg = qobject_cast<CRecoveryDlg*>(&d);
        ASSERT_NE(dlg, nullptr);
        offered.push_back({dlg->list()->topLevelItem(0)->text(0)});
        dlg->list()->setCurrentItem(dlg->list()->topLevelItem(0));
        dlg->discardButton()->click();
    };
    app->offerRecovery();
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0], QStringList{QDir::toNativeSeparators(runningFile)});
    EXPECT_FALSE(QFileInfo::exists(runningSide));
    EXPECT_TRUE(sideFiles().isEmpty());
    EXPECT_EQ(app->mainFrame()->openDocuments(QStringLiteral("KELM Program File")).size(), 1u);
    EXPECT_EQ(readBytes(runningFile), bytes);
    offered.clear();
    app->offerRecovery();
    EXPECT_TRUE(offered.empty());
    app.reset();
    qputenv("HOME", oldHome);
}

} // namespace
