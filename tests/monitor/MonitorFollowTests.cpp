#include "core/MonitorRecord.h"
#include "monitor/CMonitorConsole.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CMonitorFindBar.h"
#include "monitor/CMonitorFrame.h"
#include "monitor/CMonitorView.h"
#include "monitor/Monitor.h"
#include "tests/common/QtPrinting.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>

#include <memory>

namespace {

// A monitor window of its own, on screen, fed through its record as the port's handlers feed it.
class MonitorFollow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        record.document = &doc;
        frame = std::make_unique<CMonitorFrame>(&doc);
        frame->resize(640, 480);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get(), scaledMs(5000)));
        listing = frame->listingView();
        console = frame->consoleView();
    }

    void listLines(int count)
    {
        for (int k = 1; k <= count; ++k)
            AppendListingLine(record, k, QStringLiteral("after (%1) {T101:LEVEL} = %1").arg(k));
    }
    // Lets the panes take in what came, as the next turn of the event loop does.
    static void turn()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    // Whether listing line k (1-based) is in view.
    bool lineShown(int k) const
    {
        QTextCursor c(doc.listing()->findBlockByNumber(k - 1));
        const QRect r = listing->cursorRect(c);
        return r.top() >= 0 && r.bottom() <= listing->viewport()->height();
    }
    bool barShown(QWidget* pane) const
    {
        auto* bar = pane->findChild<QWidget*>(QStringLiteral("followBar"));
        return bar && bar->isVisible();
    }
    static void clickResume(QWidget* pane)
    {
        auto* resume = pane->findChild<QToolButton*>(QStringLiteral("resumeFollowing"));
        ASSERT_NE(resume, nullptr);
        ASSERT_TRUE(resume->isVisible());
        QTest::mouseClick(resume, Qt::LeftButton);
    }

    CMonitorDoc doc;
    MonitorRecord record;
    std::unique_ptr<CMonitorFrame> frame;
    CMonitorView* listing = nullptr;
    CMonitorConsole* console = nullptr;
};

// The listing follows the current line; scrolling it out of view or selecting pauses that, with the
// bar shown, and marks meanwhile leave the view and the selection alone; End and Resume follow again.
TEST_F(MonitorFollow, ListingPausesOnScrollAndSelectionAndResumes)
{
    listLines(300);
    MarkLine(record, 250, LineMark::MarkCurrent, 10);
    turn();
    EXPECT_TRUE(listing->isFollowing());
    EXPECT_TRUE(lineShown(250));
    EXPECT_EQ(listing->textCursor().blockNumber(), 249);
    EXPECT_FALSE(barShown(listing));

    // A flood of marks shows one position, once the event loop turns.
    for (int i = 1; i <= 1000; ++i)
        MarkLine(record, i % 300 + 1, LineMark::MarkCurrent, 10 + i);
    EXPECT_EQ(listing->textCursor().blockNumber(), 249) << "not moved before the turn";
    turn();
    EXPECT_EQ(listing->textCursor().blockNumber(), 1000 % 300);
    EXPECT_TRUE(lineShown(1000 % 300 + 1));
    EXPECT_TRUE(listing->isFollowing());
    MarkLine(record, 250, LineMark::MarkCurrent, 10);
    turn();

    // A scroll that keeps the current line in view goes on following.
    QScrollBar* bar = listing->verticalScrollBar();
    bar->setValue(bar->value() + 1);
    EXPECT_TRUE(listing->isFollowing());
    bar->setValue(0);
    EXPECT_FALSE(listing->isFollowing());
    EXPECT_TRUE(barShown(listing));
    MarkLine(record, 260, LineMark::MarkCurrent, 11);
    turn();
    EXPECT_EQ(bar->value(), 0) << "a mark while paused does not scroll";
    EXPECT_FALSE(lineShown(260));
    QTest::keyClick(listing, Qt::Key_End);
    EXPECT_TRUE(listing->isFollowing());
    EXPECT_FALSE(barShown(listing));
    EXPECT_TRUE(lineShown(260)) << "End goes to the current line";

    // Selecting pauses too; a mark then keeps the selection and the view.
    const int start = record.lineStarts[261] + record.lineTextOffsets[261];
    QTextCursor selection(doc.listing());
    selection.setPosition(start);
    selection.setPosition(start + 5, QTextCursor::KeepAnchor);
    listing->setTextCursor(selection);
    EXPECT_FALSE(listing->isFollowing());
    EXPECT_TRUE(barShown(listing));
    const int scrolled = bar->value();
    MarkLine(record, 290, LineMark::MarkCurrent, 12);
    MarkLine(record, 262, LineMark::MarkStamp, 13, 2);
    MarkLine(record, 291, LineMark::MarkCurrent, 14);
    turn();
    EXPECT_EQ(listing->textCursor().selectedText(), QStringLiteral("after"));
    EXPECT_EQ(listing->textCursor().selectionStart(), start);
    EXPECT_EQ(bar->value(), scrolled);

    // Resume shows the current line and keeps the selection, and so does a later mark.
    clickResume(listing);
    EXPECT_TRUE(listing->isFollowing());
    EXPECT_TRUE(lineShown(291));
    EXPECT_EQ(listing->textCursor().selectedText(), QStringLiteral("after"));
    bar->setValue(0);
    bar->setValue(bar->maximum());
    QTest::keyClick(listing, Qt::Key_End);
    MarkLine(record, 5, LineMark::MarkCurrent, 15);
    turn();
    EXPECT_TRUE(lineShown(5));
    EXPECT_EQ(listing->textCursor().selectedText(), QStringLiteral("after"));
}

// The console follows its end; scrolling away or selecting pauses it, new lines then leave its top
// line and selection where they are, and End or Resume go back to the end.
TEST_F(MonitorFollow, ConsolePausesOnScrollAndSelectionAndResumes)
{
    QScrollBar* bar = console->verticalScrollBar();
    const auto append = [&](int from, int count) {
        for (int i = from; i < from + count; ++i)
            doc.appendConsoleLine(QStringLiteral("[00:00:%1] line %2").arg(i % 60, 2, 10, QLatin1Char('0')).arg(i));
    };
    const auto atEnd = [&] {
        return QTest::qWaitFor(
            [&] { return console->shownEnd() == doc.console().endNumber() && bar->value() == bar->maximum(); },
            scaledMs(5000));
    };
    append(0, 500);
    ASSERT_TRUE(atEnd());
    EXPECT_TRUE(console->isFollowing());

    QTest::keyClick(console, Qt::Key_Home);
    EXPECT_FALSE(console->isFollowing());
    EXPECT_TRUE(barShown(console));
    EXPECT_EQ(console->topLine(), 0);
    append(500, 200);
    QTRY_COMPARE_WITH_TIMEOUT(console->shownEnd(), doc.console().endNumber(), scaledMs(5000));
    EXPECT_EQ(console->topLine(), 0) << "new lines do not scroll a paused console";
    QTest::keyClick(console, Qt::Key_End);
    EXPECT_TRUE(console->isFollowing());
    EXPECT_FALSE(barShown(console));
    EXPECT_EQ(bar->value(), bar->maximum());

    // One line up with the scroll bar's arrow pauses as well.
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_FALSE(console->isFollowing());
    QTest::keyClick(console, Qt::Key_End);

    // A drag over two lines selects them and pauses.
    const int h = console->fontMetrics().lineSpacing();
    const qint64 top = console->topLine();
    QTest::mousePress(console->viewport(), Qt::LeftButton, {}, QPoint(5, 4 + h / 2));
    const QPoint end(40, 4 + h + h / 2);
    QMouseEvent move(QEvent::MouseMove, QPointF(end), console->viewport()->mapToGlobal(QPointF(end)), Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(console->viewport(), &move);
    QTest::mouseRelease(console->viewport(), Qt::LeftButton, {}, end);
    const QString selected = console->selectedText();
    ASSERT_TRUE(selected.startsWith(doc.console().line(top)));
    EXPECT_FALSE(console->isFollowing());
    EXPECT_TRUE(barShown(console));
    const qint64 pausedTop = console->topLine();
    append(700, 1000);
    QTRY_COMPARE_WITH_TIMEOUT(console->shownEnd(), doc.console().endNumber(), scaledMs(5000));
    EXPECT_EQ(console->topLine(), pausedTop);
    EXPECT_EQ(console->selectedText(), selected);

    clickResume(console);
    EXPECT_TRUE(console->isFollowing());
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(console->selectedText(), selected) << "resuming keeps the selection";
    append(1700, 10);
    ASSERT_TRUE(atEnd());
    EXPECT_EQ(console->selectedText(), selected);
}

// The find bar searches the pane it was opened for, forward, backward and round the end, with or
// without regard to case, and says when there is nothing.
TEST_F(MonitorFollow, FindBarFindsInTheListingAndInTheConsole)
{
    AppendListingLine(record, 1, QStringLiteral("when {T101:LEVEL} > 3 set {V1} = 0"));
    AppendListingLine(record, 2, QStringLiteral("* keep the level"));
    AppendListingLine(record, 3, QStringLiteral("after (5) set {T101:Level} = 1"));
    doc.appendConsoleLine(QStringLiteral("[00:00:01] pump P101 on"));
    doc.appendConsoleLine(QStringLiteral("[00:00:02] Level high"));
    doc.appendConsoleLine(QStringLiteral("[00:00:03] pump P102 on"));
    turn();

    CMonitorFindBar* findBar = frame->findBar();
    auto* what = findBar->findChild<QLineEdit*>(QStringLiteral("findWhat"));
    auto* next = findBar->findChild<QPushButton*>(QStringLiteral("findNext"));
    auto* previous = findBar->findChild<QPushButton*>(QStringLiteral("findPrevious"));
    auto* matchCase = findBar->findChild<QCheckBox*>(QStringLiteral("matchCase"));
    auto* status = findBar->findChild<QLabel*>(QStringLiteral("findStatus"));
    ASSERT_TRUE(what && next && previous && matchCase && status);
    EXPECT_FALSE(findBar->isVisible());

    frame->startFind(listing);
    EXPECT_TRUE(findBar->isVisible());
    QTest::keyClicks(what, QStringLiteral("level"));
    const auto listingFound = [&] {
        const QTextCursor c = listing->textCursor();
        return std::make_pair(c.blockNumber() + 1, c.selectedText());
    };
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(listingFound(), std::make_pair(1, QStringLiteral("LEVEL")));
    EXPECT_FALSE(listing->isFollowing()) << "what was found is selected, so following pauses";
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(listingFound(), std::make_pair(2, QStringLiteral("level")));
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(listingFound(), std::make_pair(3, QStringLiteral("Level")));
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(listingFound(), std::make_pair(1, QStringLiteral("LEVEL"))) << "round the end";
    QTest::mouseClick(previous, Qt::LeftButton);
    EXPECT_EQ(listingFound(), std::make_pair(3, QStringLiteral("Level"))) << "round the start";
    matchCase->setChecked(true);
    QTest::mouseClick(previous, Qt::LeftButton);
    EXPECT_EQ(listingFound(), std::make_pair(2, QStringLiteral("level")));
    EXPECT_TRUE(status->text().isEmpty());
    what->setText(QStringLiteral("pump"));
    QTest::keyClick(what, Qt::Key_Return);
    EXPECT_EQ(status->text(), QStringLiteral("Not found")) << "console text is not the listing's";
    EXPECT_EQ(listingFound(), std::make_pair(2, QStringLiteral("level")));

    // The console: opened with its selection, and Return in the text goes on from it.
    console->setFocus();
    frame->startFind(console);
    EXPECT_EQ(what->text(), QStringLiteral("pump"));
    QTest::keyClick(what, Qt::Key_Return);
    EXPECT_EQ(console->selectedText(), QStringLiteral("pump"));
    EXPECT_FALSE(console->isFollowing());
    EXPECT_TRUE(status->text().isEmpty());
    QTest::keyClick(what, Qt::Key_Return);
    QTest::mouseClick(previous, Qt::LeftButton);
    QTest::mouseClick(previous, Qt::LeftButton);
    EXPECT_EQ(console->selectedText(), QStringLiteral("pump"));
    EXPECT_EQ(console->topLine(), 0);
    what->setText(QStringLiteral("LEVEL"));
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(status->text(), QStringLiteral("Not found")) << "Match case is still on";
    matchCase->setChecked(false);
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(console->selectedText(), QStringLiteral("Level"));
    EXPECT_EQ(listingFound(), std::make_pair(2, QStringLiteral("level"))) << "the listing was not searched";

    // A selection within a line becomes the text to find; Esc closes the bar.
    frame->startFind(console);
    EXPECT_EQ(what->text(), QStringLiteral("Level"));
    QTest::keyClick(what, Qt::Key_Escape);
    EXPECT_FALSE(findBar->isVisible());
    frame->findAgain(false);
    EXPECT_EQ(console->selectedText(), QStringLiteral("Level")) << "the only match, found again";
}

} // namespace
