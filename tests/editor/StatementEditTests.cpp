#include "EditorFixture.h"

#include "framework/CommandIds.h"
#include "res/Resource.h"
#include "statement/CStatementDlg.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const QString program = QStringLiteral("* header\n"
                                       "after (1) stop\n"
                                       "at (5) {T1} = 2\n"
                                       "after (9) stop\n");

class StatementEdit : public EditorFixture
{
protected:
    // Double-clicks at a text position of the view, as the user would.
    static void doubleClick(CEditorView* view, int position)
    {
        QTextCursor at(view->document());
        at.setPosition(position);
        const QPoint pos = view->cursorRect(at).center();
        // The system sends the press of the first click before the double click.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, pos);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, pos);
    }

    // Answers the statement dialog: runs whileOpen, sets the value field, then presses the named button.
    void answerStatement(const QString& value, const char* button, const QString& tag = QString())
    {
        onDialog = [this, value, button, tag](QDialog& d) {
            auto* dlg = qobject_cast<CStatementDlg*>(&d);
            ASSERT_NE(dlg, nullptr);
            seenStatement = dlg->findChild<QLineEdit*>(QStringLiteral("preview"))->text();
            if (whileOpen)
                whileOpen();
            if (!tag.isEmpty())
                dlg->findChild<QLineEdit*>(QStringLiteral("tag"))->setText(tag);
            if (!value.isEmpty())
                dlg->findChild<QLineEdit*>(QStringLiteral("value"))->setText(value);
            auto* b = dlg->findChild<QPushButton*>(QLatin1String(button));
            ASSERT_NE(b, nullptr);
            QTest::mouseClick(b, Qt::LeftButton);
        };
    }

    QString seenStatement;
    std::function<void()> whileOpen;
};

TEST_F(StatementEdit, DoubleClickAndReplaceChangesExactlyThatLine)
{
    CEditorDoc* doc = withText(program);
    CEditorView* view = viewOf(doc);
    answerStatement(QStringLiteral("7"), "replace");
    doubleClick(view, lineStart(doc, 2) + 4);

    EXPECT_EQ(dialogTitles.size(), 1u);
    EXPECT_EQ(seenStatement, QStringLiteral("at (5) {T1} = 2"));
    EXPECT_EQ(doc->text(), QStringLiteral("* header\nafter (1) stop\nat (5) {T1} = 7\nafter (9) stop\n"));
    EXPECT_TRUE(doc->isModified());
    // The replacement is one undo step.
    ASSERT_TRUE(run(view, Cmd::EditUndo));
    EXPECT_EQ(doc->text(), program);
    EXPECT_FALSE(doc->isModified());
    EXPECT_FALSE(enabled(view, Cmd::EditUndo));
}

TEST_F(StatementEdit, CancelAfterEditingLeavesTheLineUntouched)
{
    CEditorDoc* doc = withText(program);
    CEditorView* view = viewOf(doc);
    answerStatement(QStringLiteral("7"), "cancel2", QStringLiteral("T2"));
    doubleClick(view, lineStart(doc, 2) + 9); // on the word T1
    EXPECT_EQ(dialogTitles.size(), 1u);
    EXPECT_EQ(seenStatement, QStringLiteral("at (5) {T1} = 2"));
    EXPECT_EQ(doc->text(), program);
    EXPECT_FALSE(doc->isModified());
    EXPECT_FALSE(view->textCursor().hasSelection()); // the double click selected no word
}

TEST_F(StatementEdit, InsertGoesBehindOrInFrontByCaret)
{
    CEditorDoc* doc = withText(program);
    CEditorView* view = viewOf(doc);
    answerStatement(QStringLiteral("8"), "insert1");
    doubleClick(view, lineStart(doc, 2) + 4);
    EXPECT_EQ(doc->text(),
              QStringLiteral("* header\nafter (1) stop\nat (5) {T1} = 2\nat (5) {T1} = 8\nafter (9) stop\n"));

    doubleClick(view, lineStart(doc, 2));
    EXPECT_EQ(view->textCursor().position(), lineStart(doc, 2) + 16);
    EXPECT_EQ(doc->text(), QStringLiteral("* header\nafter (1) stop\nat (5) {T1} = 8\nat (5) {T1} = 2\nat (5) {T1} = "
                                          "8\nafter (9) stop\n"));
}

TEST_F(StatementEdit, InsertStatementCommandUsesTheCaretLine)
{
    CEditorDoc* doc = withText(program);
    CEditorView* view = viewOf(doc);
    answerStatement(QStringLiteral("4"), "insert1", QStringLiteral("T9"));

    setCaret(view, lineStart(doc, 1));
    ASSERT_TRUE(run(doc, Cmd::InsertStatement));
    EXPECT_EQ(seenStatement, QStringLiteral("at (0) {} = "));
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(1).text(), QStringLiteral("at (0) {T9} = 4"));
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(2).text(), QStringLiteral("after (1) stop"));

    setCaret(view, lineStart(doc, 3) + 3);
    ASSERT_TRUE(run(doc, Cmd::InsertStatement));
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(3).text(), QStringLiteral("at (5) {T1} = 2"));
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(4).text(), QStringLiteral("at (0) {T9} = 4"));

    // Cancel changes nothing.
    onDialog = {};
    const QString before = doc->text();
    ASSERT_TRUE(run(doc, Cmd::InsertStatement));
    EXPECT_EQ(doc->text(), before);
}

TEST_F(StatementEdit, InsertFollowsTheCaretAsItWasWhenTheDialogOpened)
{
    CEditorDoc* doc = withText(program);
    CEditorView* view = viewOf(doc);
    answerStatement(QStringLiteral("6"), "insert1", QStringLiteral("T6"));
    // What a diagnostic that arrives while the dialog is open does.
    whileOpen = [doc] { doc->GoToLine(1); };

    setCaret(view, lineStart(doc, 2) + 3);
    ASSERT_TRUE(run(doc, Cmd::InsertStatement));
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(2).text(), QStringLiteral("at (5) {T1} = 2"));
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(3).text(), QStringLiteral("at (0) {T6} = 6"));

    doubleClick(view, lineStart(doc, 2) + 4);
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(2).text(), QStringLiteral("at (5) {T1} = 2"));
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(3).text(), QStringLiteral("at (5) {T6} = 6"));
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(0).text(), QStringLiteral("* header"));
    EXPECT_EQ(doc->textDocument()->blockCount(), 7);
}

TEST_F(StatementEdit, AnInsertedStatementEndsLikeMostLines)
{
    const QString file = writeFile(QStringLiteral("mixed.kelm"), "* LF file\nafter (1) stop\r\nafter (2) stop\n");
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    answerStatement(QStringLiteral("3"), "insert1", QStringLiteral("T3"));
    setCaret(viewOf(doc), lineStart(doc, 1));
    ASSERT_TRUE(run(doc, Cmd::InsertStatement));
    setCaret(viewOf(doc), lineStart(doc, 2) + 1);
    ASSERT_TRUE(run(doc, Cmd::InsertStatement));
    ASSERT_TRUE(doc->doFileSave());
    EXPECT_EQ(readBytes(file),
              QByteArray("* LF file\nat (0) {T3} = 3\nafter (1) stop\r\nat (0) {T3} = 3\nafter (2) stop\n"));
}

TEST_F(StatementEdit, CtrlZUndoesAnInsertionAndThenTheTypingBeforeIt)
{
    const QByteArray original("* LF file\nafter (1) stop\r\nafter (2) stop\n");
    const QString file = writeFile(QStringLiteral("mixed.kelm"), original);
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    CEditorView* view = viewOf(doc);
    setCaret(view, lineStart(doc, 2));
    view->setFocus();
    QTest::keyClicks(view, QStringLiteral("// "));
    const QString typed = doc->text();
    ASSERT_EQ(typed, QStringLiteral("* LF file\nafter (1) stop\n// after (2) stop\n"));

    // In front of the CRLF line: the new line ends like most lines, the CRLF line keeps its end.
    answerStatement(QStringLiteral("3"), "insert1", QStringLiteral("T3"));
    setCaret(view, lineStart(doc, 1));
    ASSERT_TRUE(run(doc, Cmd::InsertStatement));
    const QString inserted = doc->text();
    ASSERT_EQ(inserted, QStringLiteral("* LF file\nat (0) {T3} = 3\nafter (1) stop\n// after (2) stop\n"));
    doc->autosaveNow();
    EXPECT_FALSE(doc->autosaveFile().isEmpty()) << "an insertion is a change the side file keeps";

    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(doc->text(), typed);
    EXPECT_TRUE(doc->isModified());
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(doc->text(), QStringLiteral("* LF file\nafter (1) stop\nafter (2) stop\n"));
    EXPECT_FALSE(doc->isModified()) << "back at the file's text";
    EXPECT_TRUE(doc->autosaveFile().isEmpty());

    // Redone, the insertion comes back whole, line ends included.
    doc->textDocument()->redo();
    doc->textDocument()->redo();
    EXPECT_EQ(doc->text(), inserted);
    ASSERT_TRUE(doc->doFileSave());
    EXPECT_EQ(readBytes(file), QByteArray("* LF file\nat (0) {T3} = 3\nafter (1) stop\r\n// after (2) stop\n"));
}

TEST_F(StatementEdit, InsertBehindALastLineWithoutLineBreak)
{
    CEditorDoc* doc = withText(QStringLiteral("after (1) stop"));
    CEditorView* view = viewOf(doc);
    answerStatement(QStringLiteral("3"), "insert1", QStringLiteral("T9"));
    setCaret(view, 5);
    ASSERT_TRUE(run(doc, Cmd::InsertStatement));
    EXPECT_EQ(doc->text(), QStringLiteral("after (1) stop\nat (0) {T9} = 3\n"));

    CEditorDoc* empty = withText(QString());
    ASSERT_TRUE(run(empty, Cmd::InsertStatement));
    EXPECT_EQ(empty->text(), QStringLiteral("at (0) {T9} = 3\n"));
}

TEST_F(StatementEdit, BlanksBeforeCommentMarkOpenTheDialogWithItsMessage)
{
    CEditorDoc* doc = withText(QStringLiteral("  // not a comment here\n    \nx\n"));
    CEditorView* view = viewOf(doc);
    doubleClick(view, 6);
    ASSERT_EQ(dialogTitles.size(), 1u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Don't recognize keyword."));

    doubleClick(view, lineStart(doc, 1) + 2);
    EXPECT_EQ(dialogTitles.size(), 2u);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, QStringLiteral("Don't recognize keyword."));
    EXPECT_FALSE(doc->isModified());
}

TEST_F(StatementEdit, CommentAndEmptyLinesIgnoreTheDoubleClick)
{
    CEditorDoc* doc = withText(QStringLiteral("* star\n// slashes\n\nafter (1) stop\n"));
    CEditorView* view = viewOf(doc);
    doubleClick(view, 3);
    doubleClick(view, lineStart(doc, 1) + 4);
    doubleClick(view, lineStart(doc, 2));
    EXPECT_TRUE(dialogTitles.empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(StatementEdit, GoToLine)
{
    QString text;
    for (int i = 0; i < 2000; ++i)
        text += QStringLiteral("after (%1) stop\n").arg(i);
    CEditorDoc* doc = withText(text);
    CEditorView* view = viewOf(doc);
    view->resize(400, 200);
    QTextCursor c = view->textCursor();
    c.setPosition(3);
    c.setPosition(12, QTextCursor::KeepAnchor);
    view->setTextCursor(c);

    doc->GoToLine(1500);
    EXPECT_EQ(view->textCursor().position(), lineStart(doc, 1499));
    EXPECT_FALSE(view->textCursor().hasSelection());
    EXPECT_TRUE(view->viewport()->rect().contains(view->cursorRect().center())); // scrolled into view
    doc->GoToLine(1);
    EXPECT_EQ(view->textCursor().position(), 0);
    doc->GoToLine(0);
    EXPECT_EQ(view->textCursor().position(), 0);
    doc->GoToLine(100000);
    EXPECT_EQ(view->textCursor().blockNumber(), doc->textDocument()->blockCount() - 1);
}

} // namespace
