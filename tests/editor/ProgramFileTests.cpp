// The document's parts without a window: the file with its line ends, the statement edits, the
// side file.
#include "editor/Autosave.h"
#include "editor/ProgramAutosave.h"
#include "editor/ProgramFile.h"
#include "editor/StatementInsertion.h"
#include "framework/MessageBox.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QAbstractTextDocumentLayout>
#include <QTextDocument>
#include <QTimer>

#include <vector>

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ProgramFileParts : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QTextDocument text;
    ProgramFile file;
    std::vector<QString> messages;
    KMessageBox::Hook previous;

    void SetUp() override
    {
        previous = KMessageBox::setHook([this](const KMessageBox::Request& r) {
            messages.push_back(r.text);
            return QMessageBox::Ok;
        });
    }
    void TearDown() override { KMessageBox::setHook(previous); }

    QString open(const QByteArray& bytes)
    {
        const QString path = writeFileIn(dir.path(), QStringLiteral("p.kelm"), bytes);
        EXPECT_TRUE(file.read(path, text));
        return QFileInfo(path).absoluteFilePath();
    }
};

TEST_F(ProgramFileParts, EditsKeepEachLinesOwnEndAndUndoRestoresThem)
{
    // Mostly CRLF; line 2 ends in LF alone.
    const QByteArray original = "at (1) {A} = 1\r\nat (2) {B} = 2\nafter (3) stop\r\n";
    const QString path = open(original);
    EXPECT_EQ(text.blockCount(), 4);
    EXPECT_FALSE(text.isUndoAvailable()) << "reading is not an edit";

    // Behind line 2 (caret at its end): the new line ends in CRLF, line 2 keeps its LF.
    QTextCursor caret(text.findBlockByNumber(1));
    caret.movePosition(QTextCursor::EndOfBlock);
    const QTextCursor end = StatementInsertion::insertAt(text, caret, QStringLiteral("at (9) {C} = 3\n"));
    EXPECT_EQ(end.block().blockNumber(), 3) << "the caret ends behind the new line";
    ASSERT_TRUE(file.write(path, path, text, nullptr));
    EXPECT_EQ(bytesOf(path), QByteArray("at (1) {A} = 1\r\nat (2) {B} = 2\nat (9) {C} = 3\r\nafter (3) stop\r\n"));

    // Splitting the LF line in its middle: its first half keeps the LF, the second half ends like most.
    StatementInsertion::replaceRange(text, text.findBlockByNumber(1).position() + 6, 0, QStringLiteral("\n"),
                                     text.findBlockByNumber(1).position() + 7);
    ASSERT_TRUE(file.write(path, path, text, nullptr));
    EXPECT_EQ(bytesOf(path), QByteArray("at (1) {A} = 1\r\nat (2)\n {B} = 2\r\nat (9) {C} = 3\r\nafter (3) stop\r\n"));

    // Each edit is one undo step, line ends included.
    text.undo();
    text.undo();
    ASSERT_TRUE(file.write(path, path, text, nullptr));
    EXPECT_EQ(bytesOf(path), original);
}

TEST_F(ProgramFileParts, ClearingStartsANewFileAndForgetsTheOldFormat)
{
    open(QByteArray("\xEF\xBB\xBF") + "at (1) {A} = 1\r\n");
    EXPECT_TRUE(file.format().byteOrderMark);
    file.clear(text);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_FALSE(file.format().byteOrderMark);
    text.setPlainText(QStringLiteral("at (1) {A} = 1\n"));
    const QString other = dir.filePath(QStringLiteral("new.kelm"));
    ASSERT_TRUE(file.write(other, QString(), text, nullptr));
    EXPECT_FALSE(bytesOf(other).startsWith("\xEF\xBB\xBF"));
}

TEST_F(ProgramFileParts, AnUnreadableFileLeavesTheTextAsItWas)
{
    text.setPlainText(QStringLiteral("kept"));
    EXPECT_FALSE(file.read(dir.filePath(QStringLiteral("missing.kelm")), text));
    EXPECT_EQ(text.toPlainText(), QStringLiteral("kept"));
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("missing.kelm"))) << messages[0].toStdString();

    // Binary: refused with its own message, the text still as it was.
    const QString binary = writeFileIn(dir.path(), QStringLiteral("b.kelm"), QByteArray("at (1)\0\x01\x02", 9));
    EXPECT_FALSE(file.read(binary, text));
    EXPECT_EQ(text.toPlainText(), QStringLiteral("kept"));
    EXPECT_EQ(messages.size(), 2U);
}

TEST(ProgramAutosaveTest, TheSideFileFollowsTheModifiedTextAndGoesWithIt)
{
    QTextDocument text;
    text.documentLayout(); // without a layout the document reports no change
    bool formatsOnly = false;
    QString sideFile;
    {
        ProgramAutosave autosave(&text,
                                 {[] { return QStringLiteral("/nowhere/p.kelm"); },
                                  [] { return QStringLiteral("UTF-8"); }, [&] { return formatsOnly; }},
                                 nullptr);
        formatsOnly = true;
        QTextCursor(&text).insertText(QStringLiteral("at (1) {A} = 1"));
        formatsOnly = false;
        const auto timers = autosave.findChildren<QTimer*>();
        for (const QTimer* t : timers)
            EXPECT_FALSE(t->isActive()) << "a change of formats only arms nothing";

        QTextCursor(&text).insertText(QStringLiteral("* "));
        bool armed = false;
        for (const QTimer* t : timers)
            armed = armed || t->isActive();
        EXPECT_TRUE(armed);
        autosave.writeNow();
        sideFile = autosave.file();
        ASSERT_FALSE(sideFile.isEmpty());
        Autosave::Entry entry;
        ASSERT_TRUE(Autosave::read(sideFile, entry));
        EXPECT_EQ(entry.text, QStringLiteral("* at (1) {A} = 1"));
        EXPECT_EQ(entry.originalPath, QStringLiteral("/nowhere/p.kelm"));

        text.setModified(false); // saved: the side file goes at once
        EXPECT_TRUE(autosave.file().isEmpty());
        EXPECT_FALSE(QFile::exists(sideFile));

        QTextCursor(&text).insertText(QStringLiteral("x"));
        autosave.writeNow();
        sideFile = autosave.file();
        ASSERT_TRUE(QFile::exists(sideFile));
    }
    EXPECT_FALSE(QFile::exists(sideFile)) << "a closed document leaves no side file";
}

} // namespace
