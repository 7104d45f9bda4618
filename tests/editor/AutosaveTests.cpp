#include "EditorFixture.h"
#include "editor/Autosave.h"
#include "editor/CRecoveryDlg.h"
#include "framework/CommandIds.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

namespace {

class Autosaving : public EditorFixture
{
protected:
    static QStringList sideFiles()
    {
        QStringList out;
        const QDir base(Autosave::root());
        for (const QFileInfo& d : base.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QFileInfo& f : QDir(d.absoluteFilePath()).entryInfoList({"*.autosave"}, QDir::Files))
                out << f.absoluteFilePath();
        return out;
    }

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

// Starts this test program as a KelmDesk that edits file, autosaves and waits to be killed.
std::unique_ptr<QProcess> startVictim(const QString& home, const QString& file)
{
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KELMDESK_VICTIM_HOME"), home);
    env.insert(QStringLiteral("KELMDESK_VICTIM_FILE"), file);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p->setProcessEnvironment(env);
    p->start(QCoreApplication::applicationFilePath(),
             {QStringLiteral("--gtest_also_run_disabled_tests"),
              QStringLiteral("--gtest_filter=Autosaving.DISABLED_EditsAndWaitsToBeKilled")});
    return p;
}

bool waitForSideFile(QProcess& p)
{
    QByteArray out;
    for (int i = 0; i < 300 && !out.contains("AUTOSAVED"); ++i) {
        p.waitForReadyRead(100);
        out += p.readAllStandardOutput();
        if (p.state() == QProcess::NotRunning)
            return false;
    }
    return out.contains("AUTOSAVED");
}

TEST_F(Autosaving, DISABLED_EditsAndWaitsToBeKilled)
{
    // Each test program has a home of its own; the victim's side files go where the test looks.
    qputenv("HOME", qgetenv("KELMDESK_VICTIM_HOME"));
    CEditorDoc* doc = open(qEnvironmentVariable("KELMDESK_VICTIM_FILE"));
    ASSERT_NE(doc, nullptr);
    type(doc, QStringLiteral("at (9) {RECOVERED} = 1\n"));
    doc->autosaveNow();
    ASSERT_FALSE(doc->autosaveFile().isEmpty());
    std::printf("AUTOSAVED\n");
    std::fflush(stdout);
    QTest::qWait(60000); // killed long before
}

TEST_F(Autosaving, RecoversTheTextOfAKilledProcessButNotOfARunningOne)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray bytes = "* tank\nat (1) {A} = 1\n";
    const QString killedFile = writeFile(QStringLiteral("killed.kelm"), bytes);
    const QString runningFile = writeFile(QStringLiteral("running.kelm"), bytes);

    auto killed = startVictim(home.path(), killedFile);
    ASSERT_TRUE(waitForSideFile(*killed));
    killed->kill(); // SIGKILL: no clean-up runs
    ASSERT_TRUE(killed->waitForFinished(10000));
    auto running = startVictim(home.path(), runningFile);
    ASSERT_TRUE(waitForSideFile(*running));

    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
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
    app->offerRecovery();
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0], QStringList{QDir::toNativeSeparators(killedFile) + "|line 2: at (9) {RECOVERED} = 1"});
    std::vector<CDocument*> docs = app->mainFrame()->openDocuments(QStringLiteral("KELM Program File"));
    ASSERT_EQ(docs.size(), 1u);
    auto* restored = qobject_cast<CEditorDoc*>(docs[0]);
    EXPECT_EQ(restored->pathName(), killedFile);
    EXPECT_EQ(restored->text(), QStringLiteral("* tank\nat (9) {RECOVERED} = 1\nat (1) {A} = 1\n"));
    EXPECT_TRUE(restored->isModified());
    EXPECT_EQ(readBytes(killedFile), bytes);
    restored->doFileSave(); // a save writes the recovered text to the original
    EXPECT_EQ(readBytes(killedFile), QByteArray("* tank\nat (9) {RECOVERED} = 1\nat (1) {A} = 1\n"));

    // Nothing more to offer while the other process runs; once it is killed, Discard drops its file.
    offered.clear();
    app->offerRecovery();
    EXPECT_TRUE(offered.empty());
    running->kill();
    ASSERT_TRUE(running->waitForFinished(10000));
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
    EXPECT_TRUE(sideFiles().isEmpty());
    EXPECT_EQ(app->mainFrame()->openDocuments(QStringLiteral("KELM Program File")).size(), 1u);
    EXPECT_EQ(readBytes(runningFile), bytes);
    offered.clear();
    app->offerRecovery();
    EXPECT_TRUE(offered.empty());
    qputenv("HOME", oldHome);
}

} // namespace
