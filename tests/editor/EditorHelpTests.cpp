#include "EditorFixture.h"
#include "editor/Autosave.h"
#include "editor/CLineNumberArea.h"
#include "editor/CProblemsPane.h"
#include "editor/CProgramHighlighter.h"
#include "lang/ProgramCheck.h"
#include "editor/CRecoveryDlg.h"
#include "framework/CommandIds.h"
#include "res/Resource.h"
#include "lang/Program.h"

#include <QApplication>
#include <QGuiApplication>
#include <QInputDialog>
#include <QListWidget>
#include <QScrollBar>
#include <QAbstractTextDocumentLayout>
#include <QSignalSpy>
#include <QTest>
#include <QTextLayout>
#include <QImage>

namespace {

using Problems = std::vector<std::pair<int, QString>>;

Problems problemsOf(CEditorDoc* doc)
{
    Problems out;
    for (const auto& p : doc->highlighter()->problems())
        out.emplace_back(p.line, p.message);
    return out;
}

// The format the layout of line (from 0) gives the character at column.
QTextCharFormat formatAt(CEditorDoc* doc, int line, int column)
{
    const QTextBlock block = doc->textDocument()->findBlockByNumber(line);
    QTextCharFormat f;
    for (const QTextLayout::FormatRange& r : block.layout()->formats()) {
        if (column >= r.start && column < r.start + r.length)
            f.merge(r.format);
    }
    return f;
}

// Colour of every character of the text that begins at column (-1: no colour set).
std::vector<QColor> coloursOf(CEditorDoc* doc, int line, int column, int length)
{
    std::vector<QColor> out;
    for (int i = column; i < column + length; ++i) {
        const QTextCharFormat f = formatAt(doc, line, i);
        out.push_back(f.hasProperty(QTextFormat::ForegroundBrush) ? f.foreground().color() : QColor());
    }
    return out;
}

std::vector<QColor> all(const QColor& c, int n)
{
    return std::vector<QColor>(std::size_t(n), c);
}

class EditorHelp : public EditorFixture
{
};

TEST_F(EditorHelp, HighlightingColoursEachTokenClassAndLeavesTheTextAlone)
{
    const QString text = QStringLiteral("at (10) {T101:LEVEL} = 2.5e3 // fill the tank\n"
                                        "AFTER ([0:01:30.5]) send(SetVariable, T1:OUT, 5)\n"
                                        "  * a note with at and {X}\n"
                                        "when ({A} > .5) ramp({B}, 3, 60, 1)\n"
                                        "at ([01-02-27 6:00:00]) stop\n");
    CEditorDoc* doc = withText(text);
    const ProgramColours c = ProgramColours::from(QGuiApplication::palette());

    EXPECT_EQ(coloursOf(doc, 0, 0, 2), all(c.keyword, 2));
    EXPECT_TRUE(formatAt(doc, 0, 0).font().bold());
    EXPECT_EQ(coloursOf(doc, 0, 4, 2), all(c.number, 2));
    EXPECT_EQ(coloursOf(doc, 0, 8, 12), all(c.tag, 12));
    EXPECT_EQ(coloursOf(doc, 0, 21, 1), all(QColor(), 1)); // "=" stays plain
    EXPECT_EQ(coloursOf(doc, 0, 23, 5), all(c.number, 5));
    EXPECT_EQ(coloursOf(doc, 0, 29, 16), all(c.comment, 16));

    EXPECT_EQ(coloursOf(doc, 1, 0, 5), all(c.keyword, 5)); // any case
    EXPECT_EQ(coloursOf(doc, 1, 7, 11), all(c.number, 11));
    EXPECT_EQ(coloursOf(doc, 1, 20, 4), all(c.keyword, 4));
    EXPECT_EQ(coloursOf(doc, 1, 25, 11), all(QColor(), 11)); // the opcode
    EXPECT_EQ(coloursOf(doc, 1, 38, 6), all(c.string, 6));
    EXPECT_EQ(coloursOf(doc, 1, 46, 1), all(c.string, 1));

    EXPECT_EQ(coloursOf(doc, 2, 0, 26), all(c.comment, 26)); // a comment line, keywords and tags included

    EXPECT_EQ(coloursOf(doc, 3, 0, 4), all(c.keyword, 4));
    EXPECT_EQ(coloursOf(doc, 3, 6, 3), all(c.tag, 3));
    EXPECT_EQ(coloursOf(doc, 3, 12, 2), all(c.number, 2));
    EXPECT_EQ(coloursOf(doc, 3, 16, 4), all(c.keyword, 4));
    EXPECT_EQ(coloursOf(doc, 3, 21, 3), all(c.tag, 3));
    EXPECT_EQ(coloursOf(doc, 4, 4, 18), all(c.number, 18)); // date and time
    EXPECT_EQ(coloursOf(doc, 4, 24, 4), all(c.keyword, 4));

    EXPECT_EQ(doc->text(), text);
    EXPECT_FALSE(doc->isModified());
}

TEST_F(EditorHelp, ColoursFollowThePaletteAndDifferForADarkOne)
{
    QPalette light;
    light.setColor(QPalette::Base, Qt::white);
    QPalette dark;
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    const ProgramColours l = ProgramColours::from(light);
    const ProgramColours d = ProgramColours::from(dark);
    // Every colour stands out from its own background.
    for (const auto& [colours, base] : {std::pair{l, QColor(Qt::white)}, std::pair{d, QColor(30, 30, 30)}}) {
        for (const QColor& fg :
             {colours.keyword, colours.tag, colours.number, colours.string, colours.comment, colours.error})
            EXPECT_GT(std::abs(fg.lightness() - base.lightness()), 60) << fg.name().toStdString();
    }
}

TEST_F(EditorHelp, GutterWidthFollowsTheDigitsAndAClickSelectsTheLine)
{
    auto lines = [](int n) {
        QString text;
        for (int i = 0; i < n; ++i)
            text += QStringLiteral("after (%1) stop\n").arg(i);
        text.chop(1);
        return text;
    };
    CEditorDoc* doc = withText(lines(9));
    CEditorView* view = viewOf(doc);
    CLineNumberArea* gutter = view->lineNumberArea();
    const int digit = view->fontMetrics().horizontalAdvance(QLatin1Char('9'));
    const int w9 = gutter->width();
    EXPECT_GT(w9, digit);
    EXPECT_EQ(view->viewport()->geometry().left() - view->contentsRect().left(), w9);

    doc->textDocument()->setPlainText(lines(99));
    EXPECT_EQ(gutter->width(), w9 + digit);
    doc->textDocument()->setPlainText(lines(100000));
    EXPECT_EQ(gutter->width(), w9 + 5 * digit);
    EXPECT_EQ(view->viewport()->geometry().left() - view->contentsRect().left(), w9 + 5 * digit);

    // A second window of the same document has its own gutter.
    ASSERT_TRUE(run(view, Cmd::WindowNew));
    const QList<CChildFrame*> frames = doc->frames();
    ASSERT_EQ(frames.size(), 2);
    auto* other = qobject_cast<CEditorFrame*>(frames.back())->view();
    ASSERT_NE(other, view);
    EXPECT_NE(other->lineNumberArea(), gutter);
    EXPECT_EQ(other->lineNumberArea()->width(), w9 + 5 * digit);

    doc->textDocument()->setPlainText(lines(20));
    view->resize(400, 300);
    view->show();
    setCaret(view, 0);
    const QRect third = view->cursorRect(QTextCursor(doc->textDocument()->findBlockByNumber(2)));
    QTest::mouseClick(gutter, Qt::LeftButton, {}, QPoint(gutter->width() / 2, third.center().y()));
    EXPECT_EQ(view->textCursor().selectedText(), QStringLiteral("after (2) stop") + QChar::ParagraphSeparator);
    EXPECT_EQ(doc->text(), lines(20));
}

// A sample with two faulty statements, comments and blank lines that are not checked.
const QByteArray sample = "* tank program\n"
                          "at (10) {T101:LEVEL} = 2 +\n"
                          "\n"
                          "// at (( nonsense\n"
                          "after (5) send(ModelRun)\n"
                          "at (10) jump {A}\n"
                          "when ({A} > 1) stop // done\n";

TEST_F(EditorHelp, LiveCheckMarksExactlyTheFaultyLinesWithTheParseTexts)
{
    const QString file = writeFile(QStringLiteral("tank.kelm"), sample);
    CEditorDoc* doc = open(file);
    ASSERT_NE(doc, nullptr);

    // The runner's own reading of the file is the authority.
    const kelm::Program program = kelm::readProgram(sample.toStdString());
    ASSERT_EQ(program.faults.size(), 2u);
    const Problems expected = {{program.faults[0].line, QString::fromStdString(program.faults[0].message)},
                               {program.faults[1].line, QString::fromStdString(program.faults[1].message)}};
    EXPECT_EQ(expected[0].first, 2);
    EXPECT_EQ(expected[1].first, 6);
    EXPECT_EQ(problemsOf(doc), expected); // marked on opening

    for (int line = 0; line < 7; ++line) {
        const bool faulty = line == 1 || line == 5;
        EXPECT_EQ(formatAt(doc, line, 2).underlineStyle() == QTextCharFormat::WaveUnderline, faulty) << line;
        EXPECT_EQ(CProgramHighlighter::faultOf(doc->textDocument()->findBlockByNumber(line)).isEmpty(), !faulty);
    }
    EXPECT_EQ(formatAt(doc, 1, 2).underlineColor(), ProgramColours::from(QGuiApplication::palette()).error);

    // The pane lists the active program's problems and jumps to a line on a double click.
    activate(doc);
    CProblemsPane* pane = app->mainFrame()->problemsPane();
    KD_TRY_COMPARE(pane->document(), doc, 5000);
    EXPECT_TRUE(pane->isVisible());
    ASSERT_EQ(pane->list()->count(), 2);
    EXPECT_EQ(pane->list()->item(1)->text(), QStringLiteral("tank.kelm:6: ") + expected[1].second);
    QListWidget* list = pane->list();
    KD_TRY_VERIFY(list->viewport()->rect().contains(list->visualItemRect(list->item(1))), 5000);
    const QPoint at = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(viewOf(doc)->textCursor().position(), lineStart(doc, 5));

    // Fixing a line clears its mark after a pause, without a message box.
    QSignalSpy changed(doc->highlighter(), &CProgramHighlighter::problemsChanged);
    QTextCursor c(doc->textDocument()->findBlockByNumber(1));
    c.movePosition(QTextCursor::EndOfBlock);
    c.insertText(QStringLiteral(" 1"));
    EXPECT_TRUE(doc->highlighter()->checkPending());
    KD_TRY_COMPARE(problemsOf(doc), Problems({expected[1]}), 5000);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_NE(formatAt(doc, 1, 2).underlineStyle(), QTextCharFormat::WaveUnderline);
    EXPECT_EQ(pane->list()->count(), 1);

    // Breaking a good line marks it; removing the faulty one takes its problem away.
    c.insertText(QStringLiteral(")"));
    KD_TRY_COMPARE(problemsOf(doc).size(), 2u, 5000);
    EXPECT_EQ(problemsOf(doc)[0].first, 2);
    EXPECT_EQ(problemsOf(doc)[0].second, ProgramCheck::lineFault(doc->textDocument()->findBlockByNumber(1).text()));
    QTextCursor line6(doc->textDocument()->findBlockByNumber(5));
    line6.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    line6.removeSelectedText();
    KD_TRY_COMPARE(pane->list()->count(), 1, 5000);
    EXPECT_EQ(problemsOf(doc).size(), 1u);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(dialogTitles.empty());

    // All fixed: the pane hides, unless the user opened it.
    c.deletePreviousChar();
    KD_TRY_VERIFY(problemsOf(doc).empty(), 5000);
    EXPECT_FALSE(pane->isVisible());
    ASSERT_TRUE(triggerAction(Cmd::ViewProblems));
    EXPECT_TRUE(pane->isVisible());
    EXPECT_EQ(pane->list()->count(), 0);

    // Closing the program empties the list.
    ASSERT_TRUE(triggerAction(Cmd::ViewProblems));
    c.insertText(QStringLiteral(")"));
    KD_TRY_COMPARE(pane->list()->count(), 1, 5000);
    nextAnswer = QMessageBox::No;
    ASSERT_TRUE(run(doc, Cmd::FileClose));
    KD_TRY_COMPARE(pane->list()->count(), 0, 5000);
    EXPECT_FALSE(pane->isVisible());
}

TEST_F(EditorHelp, ALargeProgramIsColouredWhereShownAndCheckedAfterOpening)
{
    const int lines = 3 * CProgramHighlighter::CheckSliceLines + 500;
    const int faulty = lines - 3; // from 0
    QByteArray text;
    for (int i = 0; i < lines; ++i)
        text += i == faulty ? QByteArray("at (5) jump {A}\n") : "at (" + QByteArray::number(i) + ") {A} = 1\n";
    CEditorDoc* doc = open(writeFile(QStringLiteral("big.kelm"), text));
    ASSERT_NE(doc, nullptr);
    CProgramHighlighter* h = doc->highlighter();
    QTextDocument* t = doc->textDocument();

    // Opening neither checked the lines nor coloured those no view shows.
    EXPECT_TRUE(problemsOf(doc).empty());
    EXPECT_TRUE(h->checkPending());
    CEditorView* view = viewOf(doc);
    ASSERT_TRUE(view->isVisible());
    EXPECT_TRUE(h->isHighlighted(t->firstBlock()));
    EXPECT_EQ(coloursOf(doc, 0, 0, 2), all(h->colours().keyword, 2));
    for (int line : {lines / 2, faulty}) {
        EXPECT_FALSE(h->isHighlighted(t->findBlockByNumber(line))) << line;
        EXPECT_TRUE(t->findBlockByNumber(line).layout()->formats().isEmpty()) << line;
    }

    // The check goes on slice by slice while events are handled, and reports once.
    QSignalSpy changed(h, &CProgramHighlighter::problemsChanged);
    KD_TRY_COMPARE(problemsOf(doc),
                   Problems({{faulty + 1, ProgramCheck::lineFault(QStringLiteral("at (5) jump {A}"))}}), 5000);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_FALSE(h->isHighlighted(t->findBlockByNumber(faulty)));

    // Scrolled into view, the faulty line is coloured and underlined.
    doc->setCurrentView(view);
    doc->GoToLine(faulty + 1);
    KD_TRY_VERIFY(h->isHighlighted(t->findBlockByNumber(faulty)), 5000);
    EXPECT_EQ(formatAt(doc, faulty, 2).underlineStyle(), QTextCharFormat::WaveUnderline);
    EXPECT_EQ(coloursOf(doc, faulty, 0, 2), all(h->colours().keyword, 2));
    EXPECT_FALSE(h->isHighlighted(t->findBlockByNumber(lines / 2)));

    // An edit far from any view colours its own lines at once, and is checked after the pause.
    QTextCursor c(t->findBlockByNumber(lines / 2));
    c.insertText(QStringLiteral("when ("));
    EXPECT_TRUE(h->isHighlighted(t->findBlockByNumber(lines / 2)));
    KD_TRY_COMPARE(problemsOf(doc).size(), 2u, 5000);
    EXPECT_EQ(formatAt(doc, lines / 2, 8).underlineStyle(), QTextCharFormat::WaveUnderline);
}

// Lines whose layouts keep their shaped glyphs between paints.
std::vector<int> shapedLines(QTextDocument* t)
{
    std::vector<int> out;
    for (QTextBlock b = t->begin(); b.isValid(); b = b.next()) {
        if (b.layout()->cacheEnabled())
            out.push_back(b.blockNumber());
    }
    return out;
}

TEST_F(EditorHelp, AKeystrokeLaysItsLineOutOnceAndShownLinesAloneKeepTheirGlyphs)
{
    QByteArray text;
    for (int i = 0; i < 3000; ++i)
        text += "at (" + QByteArray::number(i) + ") {A} = 1\n";
    CEditorDoc* doc = open(writeFile(QStringLiteral("long.kelm"), text));
    ASSERT_NE(doc, nullptr);
    CEditorView* view = viewOf(doc);
    QTextDocument* t = doc->textDocument();
    const int page = view->viewport()->height() / view->fontMetrics().lineSpacing() + 1;
    // The shown page, one above it and two below.
    const int kept = 4 * page + 2;

    setCaret(view, int(t->findBlockByNumber(1).position()) + 2);
    // Typing into a line colours it within the layout pass of the keystroke, which lays out and
    // repaints that line alone.
    QSignalSpy line(t->documentLayout(), &QAbstractTextDocumentLayout::updateBlock);
    QSignalSpy everything(t->documentLayout(), &QAbstractTextDocumentLayout::update);
    QTest::keyClicks(view, QStringLiteral("x"));
    EXPECT_EQ(t->findBlockByNumber(1).text(), QStringLiteral("atx (1) {A} = 1"));
    EXPECT_EQ(coloursOf(doc, 1, 0, 3), all(QColor(), 3));
    EXPECT_EQ(line.count(), 1);
    QTest::keyClick(view, Qt::Key_Backspace);
    EXPECT_EQ(coloursOf(doc, 1, 0, 2), all(doc->highlighter()->colours().keyword, 2));
    EXPECT_EQ(line.count(), 2);
    EXPECT_EQ(everything.count(), 0);
    // A new line and a joined one still lay out what follows.
    QTest::keyClick(view, Qt::Key_Return);
    const int split = int(everything.count());
    EXPECT_GT(split, 0);
    EXPECT_EQ(t->findBlockByNumber(2).text(), QStringLiteral(" (1) {A} = 1"));
    QTest::keyClick(view, Qt::Key_Backspace);
    EXPECT_GT(everything.count(), split);
    EXPECT_EQ(t->findBlockByNumber(1).text(), QStringLiteral("at (1) {A} = 1"));
    EXPECT_EQ(coloursOf(doc, 1, 0, 2), all(doc->highlighter()->colours().keyword, 2));

    view->viewport()->repaint();
    std::vector<int> shaped = shapedLines(t);
    ASSERT_FALSE(shaped.empty());
    EXPECT_EQ(shaped.front(), 0);
    EXPECT_LE(int(shaped.size()), kept);

    // Scrolled through to the end, with lines inserted and removed above the shown ones on the way:
    // only the lines around the last page keep glyphs.
    QScrollBar* bar = view->verticalScrollBar();
    for (int v = 0; v <= bar->maximum(); v += bar->pageStep()) {
        bar->setValue(v);
        view->viewport()->repaint();
        if (v == 10 * bar->pageStep()) {
            QTextCursor(t).insertText(QStringLiteral("// new\n// new\n// new\n"));
            view->viewport()->repaint();
            QTextCursor c(t->findBlockByNumber(1));
            c.movePosition(QTextCursor::Down, QTextCursor::KeepAnchor, 5);
            c.removeSelectedText();
        }
    }
    bar->setValue(bar->maximum());
    view->viewport()->repaint();
    shaped = shapedLines(t);
    ASSERT_FALSE(shaped.empty());
    EXPECT_LE(int(shaped.size()), kept);
    EXPECT_GE(shaped.front(), t->blockCount() - kept);
    EXPECT_EQ(shaped.back(), t->blockCount() - 1);
    EXPECT_TRUE(doc->highlighter()->isHighlighted(t->lastBlock()));
}

// Counts the paint events a widget gets.
class PaintCount : public QObject
{
public:
    explicit PaintCount(QWidget* target) { target->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
    int count = 0;
};

TEST_F(EditorHelp, AKeystrokePaintsItsLineAndGutterRowAndNothingBehindThem)
{
    QString text;
    for (int i = 0; i < 40; ++i)
        text += QStringLiteral("at (%1) {A} = 1\n").arg(i);
    CEditorDoc* doc = withText(text);
    CEditorView* view = viewOf(doc);
    activate(doc);
    auto* gutter = view->findChild<CLineNumberArea*>();
    ASSERT_NE(gutter, nullptr);
    QWidget* sub = view->parentWidget();
    while (sub && !qobject_cast<QMdiSubWindow*>(sub))
        sub = sub->parentWidget();
    ASSERT_NE(sub, nullptr);
    setCaret(view, lineStart(doc, 5) + 2);
    view->viewport()->repaint();
    QApplication::processEvents();

    // The gutter fills the rows it paints, so neither the editor's frame nor the window under it is
    // painted again for a key: that was a third of a keystroke's cost.
    PaintCount window(sub), frame(view), line(view->viewport()), numbers(gutter);
    QTest::keyClicks(view, QStringLiteral("x"));
    KD_TRY_VERIFY(line.count > 0, 5000);
    QApplication::processEvents();
    EXPECT_EQ(doc->textDocument()->findBlockByNumber(5).text(), QStringLiteral("atx (5) {A} = 1"));
    EXPECT_EQ(window.count, 0);
    EXPECT_EQ(frame.count, 0);
    EXPECT_LE(numbers.count, 1);
}

TEST_F(EditorHelp, APaletteChangeRecoloursTextUnderlinesAndGutter)
{
    CEditorDoc* doc = open(writeFile(QStringLiteral("tank.kelm"), sample));
    ASSERT_NE(doc, nullptr);
    CEditorView* view = viewOf(doc);
    const QPalette before = QApplication::palette();
    const ProgramColours light = ProgramColours::from(before);
    ASSERT_EQ(coloursOf(doc, 1, 0, 2), all(light.keyword, 2));

    QPalette dark = before;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(220, 220, 220));
    QApplication::setPalette(dark);
    const ProgramColours d = ProgramColours::from(dark);
    ASSERT_NE(d.keyword, light.keyword);
    KD_TRY_COMPARE(coloursOf(doc, 1, 0, 2), all(d.keyword, 2), 5000);
    EXPECT_EQ(coloursOf(doc, 0, 0, 3), all(d.comment, 3));
    EXPECT_EQ(formatAt(doc, 1, 2).underlineColor(), d.error);
    EXPECT_EQ(doc->highlighter()->colours(), d);
    // The gutter below the last line shows the new window colour.
    const QImage gutter = view->lineNumberArea()->grab().toImage();
    EXPECT_EQ(gutter.pixelColor(1, gutter.height() - 2), dark.color(QPalette::Window));

    QApplication::setPalette(before);
    KD_TRY_COMPARE(coloursOf(doc, 1, 0, 2), all(light.keyword, 2), 5000);
    EXPECT_EQ(formatAt(doc, 1, 2).underlineColor(), light.error);
    EXPECT_EQ(doc->text(), QString::fromLatin1(sample));
    EXPECT_FALSE(doc->isModified());
}

TEST_F(EditorHelp, GoToLineAsksForANumberWithinTheLineCount)
{
    QString text;
    for (int i = 0; i < 50; ++i)
        text += QStringLiteral("after (%1) stop\n").arg(i);
    CEditorDoc* doc = withText(text);
    CEditorView* view = viewOf(doc);
    int maximum = 0;
    onDialog = [&](QDialog& d) {
        auto* input = qobject_cast<QInputDialog*>(&d);
        ASSERT_NE(input, nullptr);
        maximum = input->intMaximum();
        input->setIntValue(37);
        input->accept();
    };
    ASSERT_TRUE(run(view, Cmd::GoToLine));
    EXPECT_EQ(maximum, 51); // 50 lines and the empty one after the last line end
    EXPECT_EQ(view->textCursor().position(), lineStart(doc, 36));

    onDialog = [&](QDialog& d) {
        auto* input = qobject_cast<QInputDialog*>(&d);
        input->setIntValue(500); // beyond the end: held at the last line
        input->accept();
    };
    ASSERT_TRUE(run(view, Cmd::GoToLine));
    EXPECT_EQ(view->textCursor().blockNumber(), 50);

    onDialog = {}; // cancelled: the caret stays
    ASSERT_TRUE(run(view, Cmd::GoToLine));
    EXPECT_EQ(view->textCursor().blockNumber(), 50);
    EXPECT_EQ(dialogTitles.back(), QStringLiteral("Go to Line"));
}

} // namespace

namespace {

// Pictures for a person to look at, not a check: run with --gtest_also_run_disabled_tests and
// KELMDESK_SHOT_DIR set, under a display or offscreen.
class EditorHelpPictures : public EditorFixture
{
protected:
    void picture(const QString& name)
    {
        CEditorDoc* doc =
            open(writeFile(QStringLiteral("tank.kelm"), sample + "at ([24-12-26 6:30:00]) send(ModelFreeze, now)\n"));
        ASSERT_NE(doc, nullptr);
        activate(doc);
        app->mainFrame()->resize(900, 560);
        app->mainFrame()->mdiArea()->activeSubWindow()->showMaximized();
        viewOf(doc)->setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app->mainFrame(), scaledMs(5000)));
        KD_TRY_VERIFY(app->mainFrame()->problemsPane()->isVisible(), 5000);
        // The application's palette taken in, and every line coloured with the colours it gives: the
        // view colours the lines it shows as it lays them out.
        auto coloured = [doc] {
            const QPalette shown = viewOf(doc)->palette();
            if (shown.color(QPalette::Base) != QApplication::palette().color(QPalette::Base) ||
                doc->highlighter()->colours() != ProgramColours::from(shown))
                return false;
            for (QTextBlock b = doc->textDocument()->begin(); b.isValid(); b = b.next())
                if (!doc->highlighter()->isHighlighted(b))
                    return false;
            return true;
        };
        KD_TRY_VERIFY(coloured(), 5000);
        const QString dir = qEnvironmentVariable("KELMDESK_SHOT_DIR");
        EXPECT_TRUE(app->mainFrame()->grab().save(dir + QLatin1Char('/') + name));

        Autosave::Entry entry;
        const QString side = Autosave::write(QString(), doc->pathName(), QStringLiteral("UTF-8"),
                                             doc->text().replace(QStringLiteral("jump"), QStringLiteral("stop")));
        ASSERT_TRUE(Autosave::read(side, entry));
        CRecoveryDlg dlg({entry, entry}, {}, app->mainFrame());
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg, scaledMs(5000)));
        EXPECT_TRUE(dlg.grab().save(dir + QLatin1Char('/') + QStringLiteral("recovery-") + name));
        Autosave::remove(side);
    }
};

TEST_F(EditorHelpPictures, DISABLED_Light)
{
    picture(QStringLiteral("light.png"));
}

TEST_F(EditorHelpPictures, DISABLED_Dark)
{
    QApplication::setStyle(QStringLiteral("fusion"));
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(220, 220, 220));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    dark.setColor(QPalette::Text, QColor(220, 220, 220));
    dark.setColor(QPalette::Button, QColor(45, 45, 48));
    dark.setColor(QPalette::ButtonText, QColor(220, 220, 220));
    dark.setColor(QPalette::Highlight, QColor(38, 79, 120));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::PlaceholderText, QColor(140, 140, 140));
    QApplication::setPalette(dark);
    picture(QStringLiteral("dark.png"));
}

} // namespace
