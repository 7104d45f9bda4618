#include "EditorFixture.h"

#include "tests/common/QtPrinting.h"
#include "tests/common/ScratchMount.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace {

// Real faults under a save: each leaves the file on disk exactly as it was, tells the user why, and
// keeps the document modified.
class EditorFileFaults : public EditorFixture
{
protected:
    // Opens file and makes an edit, as the user would before saving.
    CEditorDoc* openAndEdit(const QString& file, const QString& added = QStringLiteral("* edited\n"))
    {
        CEditorDoc* doc = open(file);
        if (doc)
            QTextCursor(doc->textDocument()).insertText(added);
        return doc;
    }

    static QStringList entries(const QString& folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    // The permission bits alone, without those that say what this process may do.
    static QFile::Permissions modeOf(const QString& file)
    {
        return QFileInfo(file).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
    }

    std::string failedSave(const QString& file, const char* reason) const
    {
        return (QStringLiteral("Cannot save ") + QDir::toNativeSeparators(file) + QStringLiteral(".\n") +
                QLatin1String(reason))
            .toStdString();
    }
};

const QByteArray program = "* tank fill\r\nat (5) {T1} = 2\r\nafter (9) stop\r\n";

TEST_F(EditorFileFaults, FullDiskKeepsTheOldFileAndSaysNoSpaceLeft)
{
    const QString folder = path(QStringLiteral("small"));
    ScratchMount disk(folder, "64k");
    if (!disk.ok())
        GTEST_SKIP() << disk.why();
    const QString file = folder + QStringLiteral("/tank.kelm");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(program);
    }
    // 200 KB of new lines cannot fit beside the old file on a 64 KB disk.
    QString lines;
    for (int i = 0; i < 10000; ++i)
        lines += QStringLiteral("at (%1) {T1} = 3\n").arg(i);
    CEditorDoc* doc = openAndEdit(file, lines);
    ASSERT_NE(doc, nullptr);

    EXPECT_FALSE(doc->doFileSave());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.toStdString(), failedSave(file, "No space left on device"));
    EXPECT_EQ(messages[0].icon, KMessageBox::Icon::Stop);
    EXPECT_EQ(readBytes(file), program);
    EXPECT_EQ(entries(folder), QStringList{QStringLiteral("tank.kelm")}) << "no partial temporary file is left";
    EXPECT_TRUE(doc->isModified());

    // Once the text fits again, the same document saves.
    doc->textDocument()->undo();
    QTextCursor(doc->textDocument()).insertText(QStringLiteral("* short\n"));
    ASSERT_TRUE(doc->doFileSave());
    EXPECT_EQ(readBytes(file), "* short\r\n" + program);
}

TEST_F(EditorFileFaults, ReadOnlyFileIsNotReplaced)
{
    const QString file = writeFile(QStringLiteral("ro.kelm"), program);
    ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    CEditorDoc* doc = openAndEdit(file);
    ASSERT_NE(doc, nullptr);

    EXPECT_FALSE(doc->doFileSave());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.toStdString(), failedSave(file, "Permission denied"));
    EXPECT_EQ(readBytes(file), program);
    EXPECT_EQ(modeOf(file), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    EXPECT_TRUE(doc->isModified());
}

TEST_F(EditorFileFaults, ReadOnlyFolderKeepsTheFile)
{
    const QString folder = path(QStringLiteral("ro"));
    // The superuser writes into any folder whatever its mode; a read-only file system stops it too.
    ScratchMount mount(folder, "64k");
    const bool root = ::geteuid() == 0;
    if (root && !mount.ok())
        GTEST_SKIP() << mount.why();
    const QString file = folder + QStringLiteral("/p.kelm");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(program);
    }
    CEditorDoc* doc = openAndEdit(file);
    ASSERT_NE(doc, nullptr);
    if (root)
        ASSERT_TRUE(mount.makeReadOnly());
    else
        ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));

    EXPECT_FALSE(doc->doFileSave());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.toStdString(), failedSave(file, root ? "Read-only file system" : "Permission denied"));
    EXPECT_EQ(readBytes(file), program);
    EXPECT_EQ(entries(folder), QStringList{QStringLiteral("p.kelm")});
    EXPECT_TRUE(doc->isModified());
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(EditorFileFaults, VanishedFolderIsReportedAndNothingIsWritten)
{
    const QString folder = path(QStringLiteral("gone"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = writeFile(QStringLiteral("gone/p.kelm"), program);
    CEditorDoc* doc = openAndEdit(file);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(QDir(folder).removeRecursively());

    // The file is gone with its folder: the editor asks before writing it anew.
    nextAnswer = QMessageBox::No;
    EXPECT_FALSE(doc->doFileSave());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("has been deleted or moved")))
        << messages[0].text.toStdString();

    nextAnswer = QMessageBox::Yes;
    EXPECT_FALSE(doc->doFileSave());
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2].text.toStdString(), failedSave(file, "No such file or directory"));
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(doc->isModified());
}

TEST_F(EditorFileFaults, FileChangedBehindTheEditorsBackIsNotOverwrittenUnasked)
{
    const QString file = writeFile(QStringLiteral("shared.kelm"), program);
    CEditorDoc* doc = openAndEdit(file);
    ASSERT_NE(doc, nullptr);

    // Another program replaces the file by a new one (as a save of its own would).
    const QByteArray theirs = "* their version\nafter (1) stop\n";
    const QString other = writeFile(QStringLiteral("other.tmp"), theirs);
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(file).constData()), 0);

    nextAnswer = QMessageBox::No;
    EXPECT_FALSE(doc->doFileSave());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, KMessageBox::Icon::Warning);
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("has been changed by another program")))
        << messages[0].text.toStdString();
    EXPECT_EQ(readBytes(file), theirs);
    EXPECT_TRUE(doc->isModified());

    // Rewritten in place with the same size: only its time tells.
    QByteArray same = theirs;
    same.replace("their", "THEIR");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write(same);
        ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    }
    EXPECT_FALSE(doc->doFileSave());
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(readBytes(file), same);

    // Yes writes the editor's text; the next save does not ask again.
    nextAnswer = QMessageBox::Yes;
    EXPECT_TRUE(doc->doFileSave());
    EXPECT_EQ(readBytes(file), "* edited\r\n" + program);
    EXPECT_EQ(messages.size(), 3u);
    QTextCursor(doc->textDocument()).insertText(QStringLiteral("* again\n"));
    EXPECT_TRUE(doc->doFileSave());
    EXPECT_EQ(messages.size(), 3u);
}

TEST_F(EditorFileFaults, FileDeletedBehindTheEditorsBackIsOnlyWrittenWhenTheUserSaysSo)
{
    const QString file = writeFile(QStringLiteral("deleted.kelm"), program);
    CEditorDoc* doc = openAndEdit(file);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(QFile::remove(file));

    nextAnswer = QMessageBox::No;
    EXPECT_FALSE(doc->doFileSave());
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_TRUE(doc->isModified());

    nextAnswer = QMessageBox::Yes;
    EXPECT_TRUE(doc->doFileSave());
    EXPECT_EQ(readBytes(file), "* edited\r\n" + program);
    EXPECT_FALSE(doc->isModified());
}

TEST_F(EditorFileFaults, SaveKeepsPermissionsAndWritesThroughALink)
{
    const QString file = writeFile(QStringLiteral("real.kelm"), program);
    const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(file, mode));
    const QString link = path(QStringLiteral("link.kelm"));
    ASSERT_TRUE(QFile::link(file, link));

    CEditorDoc* doc = openAndEdit(link);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->doFileSave());
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link stays a link";
    EXPECT_EQ(readBytes(file), "* edited\r\n" + program);
    EXPECT_EQ(modeOf(file), mode);
    EXPECT_EQ(entries(m_dir.path()), (QStringList{QStringLiteral("link.kelm"), QStringLiteral("real.kelm")}));
}

} // namespace
