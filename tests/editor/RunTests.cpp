#include "EditorFixture.h"

#include "app/CKelmDeskApp.h"
#include "core/CSettingsKey.h"
#include "core/SettingNames.h"
#include "kernel/CLogOnDlg.h"
#include "res/Resource.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

namespace {

// A stand-in runner: a shell script that writes its argument vector, NUL-separated, and what the
// file named by its last argument held when it started. Every start also adds a line to a log.
class RunCommands : public EditorFixture
{
protected:
    void SetUp() override
    {
        EditorFixture::SetUp();
        m_runner = path(QStringLiteral("kelmstub"));
        QFile script(m_runner);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        const QByteArray dir = QFile::encodeName(m_dir.path());
        script.write(
            "#!/bin/sh\n"
            "out='" +
            dir +
            "'\n"
            "echo start >> \"$out/starts\"\n"
            "for last in \"$@\"; do :; done\n"
            "if [ -f \"$last\" ]; then cp \"$last\" \"$out/seen.tmp\"; mv \"$out/seen.tmp\" \"$out/seen\"; fi\n"
            "printf '%s\\0' \"$0\" \"$@\" > \"$out/args.tmp\"\n"
            "mv \"$out/args.tmp\" \"$out/args\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void TearDown() override
    {
        EditorFixture::TearDown();
        if (!m_brokenStore.isEmpty())
            QDir(m_brokenStore).removeRecursively();
    }

    static void store(const char* name, const QString& value)
    {
        CSettingsKey key;
        ASSERT_TRUE(key.open(CSettingsKey::Write));
        ASSERT_TRUE(key.write(name, value));
    }

    void useDefaults(const QString& host, const QString& instance)
    {
        store(SettingName::KelmPath, m_runner);
        store(SettingName::DefLogon, QStringLiteral("on"));
        store(SettingName::DefHostname, host);
        store(SettingName::DefInstance, instance);
    }

    // The argument vector of the stand-in's run, argument 0 first; waits for it to finish.
    QStringList recordedArguments()
    {
        const QString file = path(QStringLiteral("args"));
        [&] { KD_TRY_VERIFY(QFile::exists(file), 30000); }();
        QStringList args;
        const QList<QByteArray> parts = readBytes(file).split('\0');
        for (qsizetype i = 0; i + 1 < parts.size(); ++i)
            args.append(QString::fromLocal8Bit(parts.at(i)));
        return args;
    }

    int starts() const { return static_cast<int>(readBytes(path(QStringLiteral("starts"))).count('\n')); }

    // A program with a file, unmodified.
    CEditorDoc* saved(const QByteArray& text = "after (1) stop\n")
    {
        return open(writeFile(QStringLiteral("p.kelm"), text));
    }

    // What the built runner prints for kelm -parse FILE when no KelmDesk is there to take it.
    static QString runnerParse(const QString& file)
    {
        QProcess kelm;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VMSG_ADDRESS"));
        kelm.setProcessEnvironment(env);
        kelm.start(QStringLiteral(KELM_PATH), {QStringLiteral("-parse"), QStringLiteral("-npstatus"), file});
        if (!kelm.waitForFinished(30000))
            return QStringLiteral("<kelm did not finish>");
        return QString::fromUtf8(kelm.readAllStandardOutput()).trimmed();
    }

    // Answers the log-on dialog through its controls.
    void answerLogOn(const QString& host, const QString& instance)
    {
        onDialog = [host, instance](QDialog& d) {
            ASSERT_NE(qobject_cast<CLogOnDlg*>(&d), nullptr);
            d.findChild<QComboBox*>(QStringLiteral("hostname"))->setEditText(host);
            d.findChild<QLineEdit*>(QStringLiteral("instance"))->setText(instance);
            QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("ok1")), Qt::LeftButton);
        };
    }

    void breakStore()
    {
        m_brokenStore = CSettingsKey::storePath();
        QFile::remove(m_brokenStore);
        ASSERT_TRUE(QDir().mkpath(m_brokenStore));
    }

    int messagesWith(const QString& text) const
    {
        int n = 0;
        for (const auto& m : messages)
            n += m.text == text ? 1 : 0;
        return n;
    }

    QString m_runner;
    QString m_brokenStore;
};

const QString missingRunner = QStringLiteral("The kelm path does not exist or has not been set.");

TEST_F(RunCommands, ParsePassesThePathWithBlanksAsOneArgument)
{
    useDefaults(QStringLiteral("kern1"), QStringLiteral("3"));
    const QString file = writeFile(QStringLiteral("my prog.kelm"), "after (1) stop\n");
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(run(doc, Cmd::Parse));
    EXPECT_EQ(recordedArguments(),
              (QStringList{m_runner, QStringLiteral("-parse"), QStringLiteral("-npstatus"), file}));
    EXPECT_TRUE(dialogTitles.empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(RunCommands, RunPassesHostInstanceAndPathEachWhole)
{
    useDefaults(QStringLiteral("kern one"), QStringLiteral("3 x"));
    const QString file = writeFile(QStringLiteral("my prog.kelm"), "after (1) stop\n");
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(run(doc, Cmd::Run));
    EXPECT_EQ(recordedArguments(),
              (QStringList{m_runner, QStringLiteral("-npstatus"), QStringLiteral("-host"), QStringLiteral("kern one"),
                           QStringLiteral("-instance"), QStringLiteral("norvex:3 x"), file}));
    EXPECT_TRUE(dialogTitles.empty());
}

TEST_F(RunCommands, DefaultsWhenOnlyTheLogOnFlagIsStored)
{
    store(SettingName::KelmPath, m_runner);
    store(SettingName::DefLogon, QStringLiteral("on"));
    CEditorDoc* doc = saved();
    ASSERT_TRUE(run(doc, Cmd::Run));
    EXPECT_EQ(recordedArguments(),
              (QStringList{m_runner, QStringLiteral("-npstatus"), QStringLiteral("-host"), QStringLiteral("localhost"),
                           QStringLiteral("-instance"), QStringLiteral("norvex:0"), path(QStringLiteral("p.kelm"))}));
    EXPECT_EQ(saveAsRequests, 0);
}

TEST_F(RunCommands, AModifiedDocumentIsSavedBeforeTheRunnerStarts)
{
    useDefaults(QStringLiteral("localhost"), QStringLiteral("0"));
    const QString file = writeFile(QStringLiteral("p.kelm"), "after (1) stop\n");
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    QTextCursor(doc->textDocument()).insertText(QStringLiteral("* changed\n"));
    ASSERT_TRUE(run(doc, Cmd::Parse));
    recordedArguments();
    EXPECT_EQ(readBytes(path(QStringLiteral("seen"))), QByteArray("* changed\nafter (1) stop\n"));
    EXPECT_FALSE(doc->isModified());
}

TEST_F(RunCommands, TheSaveComesBeforeTheLogOnDialog)
{
    store(SettingName::KelmPath, m_runner);
    const QString file = writeFile(QStringLiteral("p.kelm"), "after (1) stop\n");
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    QByteArray onDisk;
    onDialog = [&](QDialog& d) {
        EXPECT_NE(qobject_cast<CLogOnDlg*>(&d), nullptr);
        onDisk = readBytes(file);
        d.reject();
    };
    for (int command : {Cmd::Run, Cmd::Parse}) {
        QTextCursor(doc->textDocument()).insertText(QStringLiteral("* changed\n"));
        ASSERT_TRUE(run(doc, command));
        EXPECT_EQ(onDisk, doc->text().toUtf8());
        EXPECT_EQ(readBytes(file), doc->text().toUtf8());
        EXPECT_FALSE(doc->isModified());
    }
    EXPECT_EQ(dialogTitles.size(), 2u);
    EXPECT_EQ(starts(), 0);
}

TEST_F(RunCommands, AnUntitledModifiedDocumentGoesThroughSaveAs)
{
    useDefaults(QStringLiteral("localhost"), QStringLiteral("0"));
    CEditorDoc* doc = withText(QString());
    QTextCursor(doc->textDocument()).insertText(QStringLiteral("after (2) stop\n"));
    saveAsName = path(QStringLiteral("fresh.kelm"));
    ASSERT_TRUE(run(doc, Cmd::Run));
    EXPECT_EQ(recordedArguments().constLast(), saveAsName);
    EXPECT_EQ(readBytes(path(QStringLiteral("seen"))), QByteArray("after (2) stop\n"));
}

TEST_F(RunCommands, AProgramWithoutAFileIsNamedAndNotGivenToTheRunner)
{
    useDefaults(QStringLiteral("localhost"), QStringLiteral("0"));
    CEditorDoc* doc = withText(QString());
    ASSERT_FALSE(doc->title().isEmpty());
    const QString unsaved = doc->title() + QStringLiteral(" has not been saved as a file yet. Save it before ");

    // Unchanged, so nothing asks for a name.
    ASSERT_TRUE(run(doc, Cmd::Run));
    EXPECT_EQ(saveAsRequests, 0);

    // Changed: Save As is offered and cancelled.
    QTextCursor(doc->textDocument()).insertText(QStringLiteral("after (2) stop\n"));
    ASSERT_TRUE(run(doc, Cmd::Parse));
    EXPECT_EQ(saveAsRequests, 1);
    EXPECT_TRUE(doc->isModified());

    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages.at(0).text, unsaved + QStringLiteral("Run."));
    EXPECT_EQ(messages.at(1).text, unsaved + QStringLiteral("Parse."));
    EXPECT_EQ(messages.at(1).icon, KMessageBox::Icon::Stop);
    EXPECT_TRUE(dialogTitles.empty()) << "no log-on dialog for a program that cannot be run";

    // Edit-only mode has no runner, and no file to check either.
    app->m_bEditOnly = true;
    ASSERT_TRUE(run(doc, Cmd::Parse));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages.at(2).text, unsaved + QStringLiteral("Parse."));
    EXPECT_EQ(starts(), 0);
}

TEST_F(RunCommands, LogOnDialogSuppliesHostAndInstance)
{
    store(SettingName::KelmPath, m_runner);
    store(SettingName::DefLogon, QStringLiteral("On")); // only the exact "on" counts
    answerLogOn(QStringLiteral("remote"), QStringLiteral("7"));
    CEditorDoc* doc = saved();
    ASSERT_TRUE(run(doc, Cmd::Run));
    const QStringList args = recordedArguments();
    ASSERT_EQ(args.size(), 7);
    EXPECT_EQ(args.at(3), QStringLiteral("remote"));
    EXPECT_EQ(args.at(5), QStringLiteral("norvex:7"));
    EXPECT_EQ(dialogTitles.size(), 1u);
}

TEST_F(RunCommands, CancelInTheLogOnDialogStartsNothing)
{
    store(SettingName::KelmPath, m_runner);
    CEditorDoc* doc = saved();
    ASSERT_TRUE(run(doc, Cmd::Parse)); // the dialog is cancelled
    ASSERT_TRUE(run(doc, Cmd::Run));
    EXPECT_EQ(dialogTitles.size(), 2u);
    EXPECT_TRUE(messages.empty());

    // A command that does start shows that nothing came before it.
    answerLogOn(QStringLiteral("h"), QStringLiteral("1"));
    ASSERT_TRUE(run(doc, Cmd::Parse));
    EXPECT_EQ(recordedArguments().at(1), QStringLiteral("-parse"));
    EXPECT_EQ(starts(), 1);
}

TEST_F(RunCommands, MissingRunnerPathAsksUntilOneIsStored)
{
    store(SettingName::DefLogon, QStringLiteral("on"));
    int optionsShown = 0;
    onDialog = [this, &optionsShown](QDialog& d) {
        ++optionsShown;
        if (optionsShown == 1) {
            QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("cancel2")), Qt::LeftButton);
            return;
        }
        d.findChild<QLineEdit*>(QStringLiteral("runnerPath"))->setText(m_runner);
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("apply1")), Qt::LeftButton);
    };
    CEditorDoc* doc = saved();
    ASSERT_TRUE(run(doc, Cmd::Parse));
    EXPECT_EQ(optionsShown, 2);
    EXPECT_EQ(messagesWith(missingRunner), 2);
    EXPECT_EQ(messages.at(0).icon, KMessageBox::Icon::Stop);
    EXPECT_EQ(recordedArguments().at(0), m_runner);
    EXPECT_EQ(readSetting(SettingName::KelmPath).value_or(QString()), m_runner);
}

TEST_F(RunCommands, EditOnlyParseChecksTheFileHereAsTheRunnerWould)
{
    app->m_bEditOnly = true;
    store(SettingName::KelmPath, m_runner);
    const QString faulty =
        writeFile(QStringLiteral("faulty.kelm"), "* tank\nafter (1) stop\nafter (2) oops\nafter (3) nothing\n");
    CEditorDoc* doc = open(faulty);
    ASSERT_NE(doc, nullptr);
    EXPECT_FALSE(enabled(doc, Cmd::Run));
    EXPECT_FALSE(run(doc, Cmd::Run));

    ASSERT_TRUE(run(doc, Cmd::Parse));
    KD_TRY_COMPARE(messages.size(), std::size_t(1), 15000);
    EXPECT_TRUE(messages.at(0).text.startsWith(QStringLiteral("faulty.kelm, line 3: ")))
        << messages.at(0).text.toStdString();
    EXPECT_EQ(messages.at(0).text, runnerParse(faulty));
    EXPECT_EQ(messages.at(0).icon, KMessageBox::Icon::None);
    const QTextCursor caret = doc->currentView()->textCursor();
    EXPECT_EQ(caret.blockNumber(), 2);
    EXPECT_EQ(caret.positionInBlock(), 0);

    // Saved first, as for the runner: the edited text is what is checked.
    QTextCursor line(doc->textDocument()->findBlockByNumber(2));
    line.select(QTextCursor::LineUnderCursor);
    line.insertText(QStringLiteral("* fixed"));
    ASSERT_TRUE(run(doc, Cmd::Parse));
    KD_TRY_COMPARE(messages.size(), std::size_t(2), 15000);
    EXPECT_FALSE(doc->isModified());
    EXPECT_TRUE(messages.at(1).text.startsWith(QStringLiteral("faulty.kelm, line 4: ")))
        << messages.at(1).text.toStdString();
    EXPECT_EQ(doc->currentView()->textCursor().blockNumber(), 3);

    const QString clean = writeFile(QStringLiteral("clean.kelm"), "* tank\nafter (1) stop\nat (2) stop\n");
    CEditorDoc* cleanDoc = open(clean);
    ASSERT_NE(cleanDoc, nullptr);
    setCaret(viewOf(cleanDoc), lineStart(cleanDoc, 1));
    ASSERT_TRUE(run(cleanDoc, Cmd::Parse));
    KD_TRY_COMPARE(messages.size(), std::size_t(3), 15000);
    EXPECT_EQ(messages.at(2).text, QStringLiteral("clean.kelm: 2 statements, no errors."));
    EXPECT_EQ(messages.at(2).text, runnerParse(clean));
    EXPECT_EQ(viewOf(cleanDoc)->textCursor().blockNumber(), 1) << "a clean file leaves the caret";

    EXPECT_EQ(starts(), 0);
    EXPECT_TRUE(dialogTitles.empty()) << "no log-on, no Options dialog";
    EXPECT_EQ(messagesWith(missingRunner), 0);
    app->m_bEditOnly = false;
    EXPECT_TRUE(enabled(doc, Cmd::Run));
}

TEST_F(RunCommands, UnwritableStoreEndsAfterOneMessage)
{
    breakStore();
    answerLogOn(QStringLiteral("h"), QStringLiteral("1"));
    CEditorDoc* doc = saved();
    ASSERT_TRUE(run(doc, Cmd::Run));
    EXPECT_EQ(messagesWith(missingRunner), 1);
    EXPECT_EQ(dialogTitles.size(), 1u); // the log-on dialog only
}

TEST_F(RunCommands, RunnerFoundOnTheSearchPath)
{
    store(SettingName::KelmPath, QStringLiteral("kelmstub"));
    store(SettingName::DefLogon, QStringLiteral("on"));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_dir.path()) + ':' + oldPath);
    CEditorDoc* doc = saved();
    ASSERT_TRUE(run(doc, Cmd::Parse));
    qputenv("PATH", oldPath);
    EXPECT_EQ(recordedArguments().at(1), QStringLiteral("-parse"));
}

TEST_F(RunCommands, ARunnerThatCannotBeStartedIsReportedWithTheSystemsReason)
{
    useDefaults(QStringLiteral("localhost"), QStringLiteral("0"));
    const QString missing = path(QStringLiteral("no/such/kelm"));
    store(SettingName::KelmPath, missing);
    CEditorDoc* doc = saved();
    ASSERT_TRUE(run(doc, Cmd::Run));
    ASSERT_TRUE(run(doc, Cmd::Parse));
    const QString notThere = QStringLiteral("Cannot start the runner %1.\nNo such file or directory").arg(missing);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages.at(0).text, notThere);
    EXPECT_EQ(messages.at(1).text, notThere);
    EXPECT_EQ(messages.at(1).icon, KMessageBox::Icon::Stop);

    // A file nobody may execute (not even the superuser: no execute bit at all).
    const QString plain = writeFile(QStringLiteral("plain"), "#!/bin/sh\n");
    QFile::setPermissions(plain, QFile::ReadOwner | QFile::WriteOwner);
    store(SettingName::KelmPath, plain);
    ASSERT_TRUE(run(doc, Cmd::Parse));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages.at(2).text, QStringLiteral("Cannot start the runner %1.\nPermission denied").arg(plain));
}

} // namespace
