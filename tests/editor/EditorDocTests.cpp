#include "EditorFixture.h"

#include "editor/ProgramLayout.h"
#include "framework/CommandIds.h"
#include "res/Resource.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextDocumentLayout>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

namespace {

using EditorFiles = EditorFixture;
using EditorEditing = EditorFixture;

// Replaces the text of a line (0-based) as typing would.
void replaceLine(CEditorDoc* doc, int line, const QString& text)
{
    QTextCursor c(doc->textDocument()->findBlockByNumber(line));
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    c.insertText(text);
}

TEST_F(EditorFiles, Latin1CrLfFileChangesOnlyTheEditedLine)
{
    const QByteArray original = "* Pr\xFC"
                                "fprogramm f\xFCr Kessel\xA0"
                                "3\r\n"
                                "at (5) {T1} = 2\r\n"
                                "after (9) stop // \xE9t\xE9";
    const QString file = writeFile(QStringLiteral("latin.kelm"), original);
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->fileFormat().encoding, ProgramText::Encoding::Latin1);
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(0).text(), QString::fromUtf8("* Pr\xC3\xBC"
                                                                                  "fprogramm f\xC3\xBCr Kessel\xC2\xA0"
                                                                                  "3"));

    replaceLine(doc, 1, QStringLiteral("at (5) {T1} = 9"));
    EXPECT_TRUE(doc->isModified());
    ASSERT_TRUE(run(doc, Cmd::FileSave));
    EXPECT_FALSE(doc->isModified());
    QByteArray expected = original;
    expected.replace("{T1} = 2", "{T1} = 9");
    EXPECT_EQ(readBytes(file), expected);
}

TEST_F(EditorFiles, Utf8WithBomAndLfRoundTrips)
{
    const QByteArray original = "\xEF\xBB\xBF// K\xC3\xBChler\nat (5) {T1} = 2\n\n";
    const QString file = writeFile(QStringLiteral("utf8.kelm"), original);
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(viewOf(doc)->textCursor().position(), 0); // an opened file shows its top
    doc->setModified(true);
    ASSERT_TRUE(doc->doFileSave());
    EXPECT_EQ(readBytes(file), original);
}

TEST_F(EditorFiles, MixedLineEndsChangeOnlyTheEditedLine)
{
    const QByteArray original = "* mixed\r\n"
                                "at (1) {A} = 1\n"
                                "* a carriage return\rinside\r\n"
                                "at (2) {B} = 2\n"
                                "after (3) stop\r\n"
                                "at (4) {C} = 4\n"
                                "\r\n"
                                "after (5) stop";
    const QString file = writeFile(QStringLiteral("mixed.kelm"), original);
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->textDocument()->blockCount(), 8);
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(2).text(), QStringLiteral("* a carriage return\u240Dinside"));

    replaceLine(doc, 3, QStringLiteral("at (2) {B} = 9"));
    // A line deleted and brought back by undo keeps its line end.
    QTextCursor line(doc->textDocument()->findBlockByNumber(4));
    line.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    line.removeSelectedText();
    ASSERT_EQ(doc->textDocument()->findBlockByNumber(4).text(), QStringLiteral("at (4) {C} = 4"));
    doc->textDocument()->undo();
    ASSERT_EQ(doc->textDocument()->findBlockByNumber(4).text(), QStringLiteral("after (3) stop"));

    ASSERT_TRUE(doc->doFileSave());
    QByteArray expected = original;
    expected.replace("{B} = 2", "{B} = 9");
    EXPECT_EQ(readBytes(file), expected);

    // A line break typed at the end of a line leaves that line as it was; the new line ends like it.
    QTextCursor end(doc->textDocument()->findBlockByNumber(1));
    end.movePosition(QTextCursor::EndOfBlock);
    CEditorView* view = viewOf(doc);
    view->setTextCursor(end);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Return);
    QTest::keyClicks(view, QStringLiteral("* new"));
    ASSERT_TRUE(doc->doFileSave());
    expected.replace("{A} = 1\n", "{A} = 1\n* new\n");
    EXPECT_EQ(readBytes(file), expected);
}

TEST_F(EditorFiles, NewDocumentSavesThroughSaveAs)
{
    CEditorDoc* doc = newDocument();
    EXPECT_FALSE(enabled(doc, Cmd::FileSave));
    QTextCursor(doc->textDocument()).insertText(QStringLiteral("after (1) stop"));
    EXPECT_TRUE(enabled(doc, Cmd::FileSave));
    saveAsName = path(QStringLiteral("named"));
    ASSERT_TRUE(run(doc, Cmd::FileSave));
    EXPECT_EQ(doc->pathName(), path(QStringLiteral("named.kelm")));
    EXPECT_EQ(readBytes(doc->pathName()), QByteArray("after (1) stop"));
    EXPECT_FALSE(enabled(doc, Cmd::FileSave));
}

TEST_F(EditorFiles, FailedSaveSaysWhyAndKeepsTheDocumentModified)
{
    const QString notADir = writeFile(QStringLiteral("plain"), "x");
    CEditorDoc* doc = withText(QStringLiteral("after (1) stop\n"));
    QTextCursor(doc->textDocument()).insertText(QStringLiteral("* edited\n"));
    const QString target = notADir + QStringLiteral("/p.kelm");
    EXPECT_FALSE(doc->doSave(target));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, KMessageBox::Icon::Stop);
    EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("Cannot save ") + target));
    EXPECT_GT(messages[0].text.indexOf(QLatin1Char('\n')), 0); // the system's reason follows
    EXPECT_TRUE(doc->isModified());
    EXPECT_TRUE(doc->pathName().isEmpty());

    EXPECT_FALSE(doc->doSave(QStringLiteral("/proc/kelmdesk-test.kelm")));
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_TRUE(doc->isModified());
}

TEST_F(EditorFiles, CharactersOutsideLatin1AskBeforeChangingTheEncoding)
{
    const QString file = writeFile(QStringLiteral("l1.kelm"), "// \xE9\n");
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);
    QTextCursor end(doc->textDocument());
    end.movePosition(QTextCursor::End);
    end.insertText(QString::fromUtf8("// \xE2\x82\xAC\n"));

    nextAnswer = QMessageBox::No;
    EXPECT_FALSE(doc->doFileSave());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("line 2")));
    EXPECT_TRUE(doc->isModified());
    EXPECT_EQ(readBytes(file), QByteArray("// \xE9\n"));

    nextAnswer = QMessageBox::Yes;
    EXPECT_TRUE(doc->doFileSave());
    EXPECT_EQ(readBytes(file), QByteArray("// \xC3\xA9\n// \xE2\x82\xAC\n"));
    EXPECT_EQ(doc->fileFormat().encoding, ProgramText::Encoding::Utf8);
}

TEST_F(EditorFiles, UnreadableFilesAreRefusedWithAMessage)
{
    const QString nul = writeFile(QStringLiteral("nul.kelm"), QByteArray("after (1) stop\n\0\0", 17));
    EXPECT_EQ(open(nul), nullptr);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("NUL")));

    QFile big(path(QStringLiteral("big.kelm")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(ProgramText::MaxFileSize + 1));
    big.close();
    EXPECT_EQ(open(big.fileName()), nullptr);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].text.contains(QStringLiteral("too large")));

    EXPECT_EQ(open(path(QStringLiteral("missing.kelm"))), nullptr);
    EXPECT_EQ(messages.size(), 3u);

    // A line separator would be a line break on screen but not in the file.
    const QByteArray separated = "at (1) {T} = 1\n// one \xE2\x80\xA8 line\n";
    const QString separator = writeFile(QStringLiteral("separator.kelm"), separated);
    EXPECT_EQ(open(separator), nullptr);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_TRUE(messages[3].text.contains(QStringLiteral("line 2")));
    EXPECT_TRUE(messages[3].text.contains(QStringLiteral("U+2028")));
    EXPECT_EQ(readBytes(separator), separated);
    EXPECT_TRUE(m_template->documents().empty());
}

TEST_F(EditorFiles, PastedRichTextIsSavedAsPlainText)
{
    CEditorDoc* doc = withText(QString());
    auto* mime = new QMimeData;
    mime->setHtml(QStringLiteral("<b>at</b> (1) <i>{T}</i> = 1"));
    mime->setText(QStringLiteral("at (1) {T} = 1"));
    QApplication::clipboard()->setMimeData(mime);
    ASSERT_TRUE(run(viewOf(doc), Cmd::EditPaste));
    saveAsName = path(QStringLiteral("pasted.kelm"));
    ASSERT_TRUE(doc->doFileSave());
    EXPECT_EQ(readBytes(saveAsName), QByteArray("at (1) {T} = 1"));
}

TEST_F(EditorEditing, CommandsFollowTheViewState)
{
    CEditorDoc* doc = withText(QStringLiteral("after (1) stop\n"));
    CEditorView* view = viewOf(doc);
    EXPECT_FALSE(enabled(view, Cmd::EditUndo));
    EXPECT_FALSE(enabled(view, Cmd::EditCopy));
    EXPECT_FALSE(enabled(view, Cmd::EditCut));
    EXPECT_FALSE(enabled(doc, Cmd::FileSave));
    EXPECT_TRUE(enabled(doc, Cmd::Parse));
    EXPECT_TRUE(enabled(doc, Cmd::InsertStatement));

    view->setFocus();
    QTest::keyClicks(view, QStringLiteral("* "));
    EXPECT_EQ(doc->text(), QStringLiteral("* after (1) stop\n"));
    EXPECT_TRUE(enabled(view, Cmd::EditUndo));
    EXPECT_TRUE(enabled(doc, Cmd::FileSave));
    ASSERT_TRUE(run(view, Cmd::EditSelectAll));
    EXPECT_TRUE(enabled(view, Cmd::EditCopy));
    EXPECT_TRUE(enabled(view, Cmd::EditCut));
    ASSERT_TRUE(run(view, Cmd::EditCut));
    EXPECT_TRUE(doc->text().isEmpty());
    EXPECT_FALSE(enabled(view, Cmd::EditCopy));
    ASSERT_TRUE(run(view, Cmd::EditUndo));
    EXPECT_EQ(doc->text(), QStringLiteral("* after (1) stop\n"));
    for (int steps = 0; enabled(view, Cmd::EditUndo) && steps < 10; ++steps)
        run(view, Cmd::EditUndo);
    EXPECT_EQ(doc->text(), QStringLiteral("after (1) stop\n"));
    EXPECT_FALSE(doc->isModified()); // back at the saved state
    EXPECT_FALSE(enabled(doc, Cmd::FileSave));
}

TEST_F(EditorEditing, LineBreaksAreAlwaysPlainOnes)
{
    CEditorDoc* doc = withText(QString());
    CEditorView* view = viewOf(doc);
    view->setFocus();
    QTest::keyClicks(view, QStringLiteral("a"));
    QTest::keyClick(view, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(view, QStringLiteral("b"));
    EXPECT_EQ(doc->textDocument()->blockCount(), 2);
    EXPECT_EQ(doc->text(), QStringLiteral("a\nb"));

    QApplication::clipboard()->setText(QStringLiteral("\nc\u2028d\u2029e"));
    ASSERT_TRUE(run(view, Cmd::EditPaste));
    EXPECT_EQ(doc->textDocument()->blockCount(), 5);
    EXPECT_EQ(doc->text(), QStringLiteral("a\nb\nc\nd\ne"));

    CFindReplaceDlg::Options options;
    options.findWhat = QStringLiteral("d");
    options.replaceWith = QStringLiteral("d1\u2028d2");
    EXPECT_EQ(view->replaceAllText(options), 1);
    EXPECT_EQ(doc->textDocument()->blockCount(), 6);
    EXPECT_FALSE(doc->textDocument()->toRawText().contains(QChar::LineSeparator));

    saveAsName = path(QStringLiteral("breaks.kelm"));
    ASSERT_TRUE(doc->doFileSave());
    EXPECT_EQ(readBytes(saveAsName), QByteArray("a\nb\nc\nd1\nd2\ne"));
}

TEST_F(EditorEditing, SecondWindowSharesTheText)
{
    CEditorDoc* doc = withText(QStringLiteral("after (1) stop\n"));
    CChildFrame* first = doc->frames().constFirst();
    auto* second = qobject_cast<CEditorFrame*>(m_template->createNewFrame(doc));
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(doc->views().size(), 2);
    EXPECT_EQ(second->view()->document(), doc->textDocument());
    EXPECT_EQ(second->windowTitle(), QStringLiteral("Program1:2"));

    QTextCursor(doc->textDocument()).insertText(QStringLiteral("* top\n"));
    EXPECT_EQ(second->view()->toPlainText(), QStringLiteral("* top\nafter (1) stop\n"));

    first->close(); // another window remains: no question, the document stays
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(doc->views().size(), 1);
    EXPECT_EQ(doc->currentView(), second->view());
    setCaret(second->view(), 0);
    second->view()->setFocus();
    QTest::keyClicks(second->view(), QStringLiteral("// "));
    EXPECT_EQ(doc->text(), QStringLiteral("// * top\nafter (1) stop\n"));
}

TEST_F(EditorEditing, FindAndReplaceThroughTheDialog)
{
    CEditorDoc* doc = withText(QStringLiteral("at (1) {T1} = 1\nat (2) {t1} = 2\nat (3) {T12} = 3\n"));
    CEditorView* view = viewOf(doc);
    ASSERT_TRUE(run(view, Cmd::EditReplace));
    CFindReplaceDlg* dlg = view->findDialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    dlg->findChild<QLineEdit*>(QStringLiteral("findWhat"))->setText(QStringLiteral("T1"));
    dlg->findChild<QLineEdit*>(QStringLiteral("replaceWith"))->setText(QStringLiteral("TX"));
    dlg->findChild<QCheckBox*>(QStringLiteral("matchCase"))->setChecked(true);
    dlg->findChild<QCheckBox*>(QStringLiteral("wholeWord"))->setChecked(true);
    QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("replaceAll")), Qt::LeftButton);
    EXPECT_EQ(doc->text(), QStringLiteral("at (1) {TX} = 1\nat (2) {t1} = 2\nat (3) {T12} = 3\n"));
    ASSERT_TRUE(run(view, Cmd::EditUndo));
    EXPECT_EQ(doc->text(), QStringLiteral("at (1) {T1} = 1\nat (2) {t1} = 2\nat (3) {T12} = 3\n"));

    // Replace: the first press finds, the next replaces and finds again.
    dlg->findChild<QCheckBox*>(QStringLiteral("wholeWord"))->setChecked(false);
    dlg->findChild<QCheckBox*>(QStringLiteral("matchCase"))->setChecked(false);
    setCaret(view, 0);
    auto* replace = dlg->findChild<QPushButton*>(QStringLiteral("replace"));
    QTest::mouseClick(replace, Qt::LeftButton);
    EXPECT_EQ(view->textCursor().selectionStart(), 8);
    EXPECT_FALSE(doc->text().contains(QStringLiteral("TX")));
    QTest::mouseClick(replace, Qt::LeftButton);
    EXPECT_EQ(doc->text(), QStringLiteral("at (1) {TX} = 1\nat (2) {t1} = 2\nat (3) {T12} = 3\n"));
    EXPECT_EQ(view->textCursor().selectedText(), QStringLiteral("t1"));

    QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_TRUE(messages.empty());
}

TEST_F(EditorEditing, FindNextRepeatsAndWraps)
{
    CFindReplaceDlg::lastSearch() = {};
    CEditorDoc* doc = withText(QStringLiteral("stop\nafter (1) stop\n"));
    CEditorView* view = viewOf(doc);
    ASSERT_TRUE(run(view, Cmd::EditFindNext)); // nothing searched yet: the Find dialog opens
    CFindReplaceDlg* dlg = view->findDialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_FALSE(dlg->isReplaceMode());
    dlg->findChild<QLineEdit*>(QStringLiteral("findWhat"))->setText(QStringLiteral("stop"));
    QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("findNext")), Qt::LeftButton);
    EXPECT_EQ(view->textCursor().selectionStart(), 0);
    ASSERT_TRUE(run(view, Cmd::EditFindNext));
    EXPECT_EQ(view->textCursor().selectionStart(), 15);
    ASSERT_TRUE(run(view, Cmd::EditFindNext));
    EXPECT_EQ(view->textCursor().selectionStart(), 0);
    EXPECT_TRUE(messages.empty());

    CFindReplaceDlg::Options missing;
    missing.findWhat = QStringLiteral("ramp");
    EXPECT_FALSE(view->findText(missing));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Cannot find \"ramp\"."));
}

} // namespace

// Colouring a line marks the whole line changed (from, its length removed, its length added). That
// change lays out and repaints the line alone; QPlainTextDocumentLayout on its own takes it to reach
// into the lines below.
TEST(ProgramLayout, ColouringALineUpdatesThatLineAlone)
{
    const auto updated = [](bool program) {
        QTextDocument doc;
        QString text;
        for (int i = 0; i < 200; ++i)
            text += QStringLiteral("after (%1) {T101:INLET} = 1\n").arg(i);
        doc.setPlainText(text);
        QPlainTextDocumentLayout* layout = program ? new ProgramLayout(&doc) : new QPlainTextDocumentLayout(&doc);
        doc.setDocumentLayout(layout);
        layout->documentSize();
        QRectF rect;
        QObject::connect(layout, &QAbstractTextDocumentLayout::update, [&rect](const QRectF& r) { rect |= r; });
        const QTextBlock block = doc.findBlockByNumber(100);
        doc.markContentsDirty(block.position(), block.length());
        return std::make_pair(rect, layout->blockBoundingRect(block));
    };
    const auto [programRect, line] = updated(true);
    EXPECT_LE(programRect.height(), line.height() + 1) << "the line alone";
    const auto [plainRect, plainLine] = updated(false);
    EXPECT_GT(plainRect.height(), plainLine.height() + 1) << "the bare layout reaches further";
}
