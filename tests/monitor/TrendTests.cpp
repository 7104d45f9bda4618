#include "core/AppCore.h"
#include "core/MonitorRecord.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "res/Resource.h"
#include "monitor/CMonitorConsole.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CMonitorFrame.h"
#include "monitor/CMonitorView.h"
#include "monitor/CTrendPane.h"
#include "monitor/Monitor.h"
#include "monitor/RunRecord.h"
#include "tests/common/QtPrinting.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QChart>
#include <QLineSeries>
#include <QListWidget>
#include <QPainter>
#include <QPicture>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QWheelEvent>

#include <memory>

namespace {

// A monitor window of its own with its run record filled directly, as the monitor's handlers fill it.
class Trend : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto owned = std::make_unique<MonitorRecord>();
        record = owned.get();
        record->document = &doc;
        core.monitors.push_back(std::move(owned));
        frame = std::make_unique<CMonitorFrame>(&doc);
        frame->resize(1000, 700);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get(), scaledMs(5000)));
        trend = frame->trendPane();
        listing = frame->listingView();
        for (int k = 1; k <= 12; ++k)
            AppendListingLine(*record, k, QStringLiteral("after (%1) {T101:LEVEL} = %1").arg(k));
    }
    void TearDown() override
    {
        frame.reset();
        core.monitors.clear();
    }

    // A level rising 0.01 a second for 300 s, a flow between 40 and 60 and a switch of 0 or 1; line 9
    // fires at 250 s and line 4 at 100 s and 200 s.
    void tankRun()
    {
        RunRecord& r = doc.record();
        const int level = r.tagIndex(QStringLiteral("T101:LEVEL"));
        const int flow = r.tagIndex(QStringLiteral("F101:FLOW"));
        const int run = r.tagIndex(QStringLiteral("P101:RUN"));
        for (int t = 0; t <= 300; ++t) {
            r.add(level, t, t * 0.01);
            r.add(flow, t, 50 + 10 * ((t / 7) % 2 ? 1 : -1));
            r.add(run, t, t < 250 ? 1 : 0);
        }
        r.addFiring({4, 100, false, 0});
        r.addFiring({4, 200, false, 0});
        r.addFiring({9, 250, true, 0});
        turn();
    }
    static void turn()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    QPoint viewPoint(double x) const
    {
        const QRectF plot = trend->chart()->plotArea();
        return trend->chartView()->mapFromScene(QPointF(x, plot.center().y()));
    }
    int selectedListingLine() const
    {
        const QTextCursor c = listing->textCursor();
        return c.hasSelection() ? c.block().blockNumber() + 1 : 0;
    }

    AppCore core;
    CMonitorDoc doc;
    MonitorRecord* record = nullptr;
    std::unique_ptr<CMonitorFrame> frame;
    CTrendPane* trend = nullptr;
    CMonitorView* listing = nullptr;
};

TEST_F(Trend, CurvesForTheRecordsTagsScaledToTheirRangeWithAFewPointsAPixel)
{
    tankRun();
    trend->redraw();
    ASSERT_EQ(trend->tagList()->count(), 3);
    EXPECT_EQ(trend->tagList()->item(0)->text(), "T101:LEVEL");
    EXPECT_EQ(trend->tagList()->item(2)->text(), "P101:RUN");
    const double columns = trend->chart()->plotArea().width();
    ASSERT_GT(columns, 100);
    for (int k = 0; k < 3; ++k) {
        QLineSeries* curve = trend->curve(k);
        ASSERT_NE(curve, nullptr);
        EXPECT_TRUE(curve->isVisible());
        const QList<QPointF> points = curve->points();
        ASSERT_FALSE(points.isEmpty());
        EXPECT_LE(points.size(), 2 * columns);
        double low = 1e9, high = -1e9;
        for (const QPointF& p : points) {
            low = std::min(low, p.y());
            high = std::max(high, p.y());
        }
        // Each curve spans the plot's height: its own smallest value at 0 %, its largest at 100 %.
        EXPECT_DOUBLE_EQ(low, 0) << k;
        EXPECT_DOUBLE_EQ(high, 100) << k;
    }
    // A drawing hands each curve its points once (its own tool tips set no check box).
    QSignalSpy replaced(trend->curve(0), &QXYSeries::pointsReplaced);
    trend->redraw();
    EXPECT_EQ(replaced.count(), 1);
    // Nothing changed: the next look at the record draws nothing.
    trend->refresh();
    EXPECT_EQ(replaced.count(), 1);
    doc.record().add(0, 301, 3.01);
    trend->refresh();
    EXPECT_EQ(replaced.count(), 2);
    // Following: the whole run in view.
    EXPECT_TRUE(trend->isFollowing());
    EXPECT_DOUBLE_EQ(trend->viewFrom(), 0);
    EXPECT_DOUBLE_EQ(trend->viewTo(), 301);

    // A million points of one tag reach Qt Charts as at most two a pixel column.
    RunRecord& r = doc.record();
    const int dense = r.tagIndex(QStringLiteral("D1"));
    for (int i = 0; i < 1000000; ++i)
        r.add(dense, i * 0.0003, (i % 1000) * 0.5);
    trend->redraw();
    ASSERT_NE(trend->curve(3), nullptr);
    EXPECT_LE(trend->curve(3)->count(), 2 * columns);
    EXPECT_GT(trend->curve(3)->count(), columns / 2);
}

TEST_F(Trend, AWrittenValueHoldsUntilTheNextOne)
{
    // A set point written twice, 100 at 0 s and 0 at 100 s, while another tag runs to 200 s.
    RunRecord& r = doc.record();
    const int setPoint = r.tagIndex(QStringLiteral("FV101:POS"));
    const int level = r.tagIndex(QStringLiteral("T101:LEVEL"));
    r.setWrittenTag(20, setPoint);
    r.add(setPoint, 0, 100);
    r.addFiring({20, 0, true, 100});
    r.add(setPoint, 100, 0);
    r.addFiring({20, 100, true, 0});
    for (int t = 0; t <= 200; t += 50)
        r.add(level, t, t);
    trend->redraw();
    // A measured tag goes straight from sample to sample.
    EXPECT_EQ(trend->curve(level)->points().size(), 5);
    const QList<QPointF> points = trend->curve(setPoint)->points();
    ASSERT_GE(points.size(), 4);
    // Level at 100 % up to the step, at 0 % after it, to the end of the run: never a slope.
    for (int i = 1; i < points.size(); ++i) {
        if (points[i].x() != points[i - 1].x()) {
            EXPECT_EQ(points[i].y(), points[i - 1].y()) << i;
        }
    }
    EXPECT_EQ(points.constFirst().y(), 100);
    EXPECT_EQ(points.constLast().y(), 0);
    EXPECT_GT(points.constLast().x(), points[points.size() - 2].x()) << "the last value holds to the run's end";
}

TEST_F(Trend, TheFirstEightTagsAreShownAndCheckBoxesHideAndShowCurves)
{
    RunRecord& r = doc.record();
    // The tags the listing's lines write come first.
    const int base = int(r.tags().size());
    for (int k = 0; k < 10; ++k) {
        const int tag = r.tagIndex(QStringLiteral("T%1:PV").arg(k));
        r.add(tag, 0, k);
        r.add(tag, 10, k * 2);
    }
    trend->redraw();
    ASSERT_EQ(trend->tagList()->count(), base + 10);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(trend->tagList()->item(base + k)->checkState() == Qt::Checked, base + k < CTrendPane::MaxShown) << k;
        EXPECT_EQ(trend->curve(base + k)->isVisible(), base + k < CTrendPane::MaxShown) << k;
    }
    const double x = trend->xOf(5);
    EXPECT_TRUE(trend->hoverText(x).contains("T3:PV")) << trend->hoverText(x).toStdString();
    EXPECT_FALSE(trend->hoverText(x).contains("T9:PV"));

    trend->tagList()->item(base + 3)->setCheckState(Qt::Unchecked);
    trend->tagList()->item(base + 9)->setCheckState(Qt::Checked);
    EXPECT_FALSE(trend->curve(base + 3)->isVisible());
    EXPECT_TRUE(trend->curve(base + 9)->isVisible());
    EXPECT_FALSE(trend->hoverText(x).contains("T3:PV"));
    EXPECT_TRUE(trend->hoverText(x).contains("T9:PV  9")) << trend->hoverText(x).toStdString();
    EXPECT_GT(trend->curve(base + 9)->count(), 0) << "a curve shown later is drawn";

    // A name from the runner is shown as it is, never read as markup.
    const int odd = r.tagIndex(QStringLiteral("<b>X</b>"));
    r.add(odd, 0, 1);
    trend->redraw();
    trend->tagList()->item(odd)->setCheckState(Qt::Checked);
    EXPECT_EQ(trend->tagList()->item(odd)->text(), "<b>X</b>");
    EXPECT_TRUE(trend->tagList()->item(odd)->toolTip().contains("&lt;b&gt;X&lt;/b&gt;: 1 to 1 in view"))
        << trend->tagList()->item(odd)->toolTip().toStdString();
}

TEST_F(Trend, MarkersAtFiringsSelectTheirLineAndTheListingsSelectionHighlightsThem)
{
    tankRun();
    trend->redraw();
    const QRectF plot = trend->chart()->plotArea();
    ASSERT_EQ(doc.record().firings().size(), 3u);
    for (int k = 0; k < 3; ++k) {
        const double x = trend->markerX(k);
        EXPECT_NEAR(x, plot.left() + doc.record().firings()[std::size_t(k)].time / 300 * plot.width(), 0.01);
    }

    // A click beside every marker selects nothing.
    QTest::mouseClick(trend->chartView()->viewport(), Qt::LeftButton, {}, viewPoint(trend->xOf(150)));
    EXPECT_EQ(selectedListingLine(), 0);
    // A click on the marker at 250 s selects line 9, which highlights its marker.
    QTest::mouseClick(trend->chartView()->viewport(), Qt::LeftButton, {}, viewPoint(trend->markerX(2) + 2));
    EXPECT_EQ(selectedListingLine(), 9);
    EXPECT_EQ(listing->textCursor().selectedText(), doc.listing()->findBlockByNumber(8).text());
    EXPECT_EQ(trend->highlightedLines(), std::set<int>{9});

    // Selecting lines 3 to 4 in the listing highlights the two markers of line 4.
    QTextCursor c(doc.listing()->findBlockByNumber(2));
    c.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    listing->setTextCursor(c);
    EXPECT_EQ(trend->highlightedLines(), (std::set<int>{3, 4}));

    // The hover names the time, each tag's value then and the line fired there.
    const QString hover = trend->hoverText(trend->markerX(2));
    EXPECT_TRUE(hover.startsWith(CTrendPane::timeText(250))) << hover.toStdString();
    EXPECT_TRUE(hover.contains("T101:LEVEL  2.5")) << hover.toStdString();
    EXPECT_TRUE(hover.contains("P101:RUN  0")) << hover.toStdString();
    EXPECT_TRUE(hover.contains("line 9 fired, wrote 0")) << hover.toStdString();
}

TEST_F(Trend, AFloodOfFiringsDrawsNoMoreThanAPlotWidthOfMarkers)
{
    RunRecord& r = doc.record();
    const int level = r.tagIndex(QStringLiteral("T101:LEVEL"));
    r.add(level, 0, 0);
    r.add(level, 300, 3);
    // The markers as the chart paints them, recorded: the size of the recording grows with what is drawn.
    const auto markersPainted = [this] {
        trend->redraw();
        QPicture picture;
        QPainter painter(&picture);
        emit trend->chartView()->foregroundPainting(&painter);
        painter.end();
        return picture.size();
    };
    // A thousand firings over 300 s fill about every pixel column of the plot. A hundred times as
    // many over the next 300 s, as a flood of marks brings them, in the same plot width draw about
    // as much again, not a hundred times as much.
    for (int k = 0; k < 1000; ++k)
        r.addFiring({1 + k % 12, k * 0.3, false, 0});
    const qint64 thousand = markersPainted();
    ASSERT_GT(thousand, 0);
    for (int k = 0; k < 99000; ++k)
        r.addFiring({1 + k % 12, 300 + k * 300.0 / 99000, false, 0});
    r.add(level, 600, 6);
    EXPECT_LT(markersPainted(), 3 * thousand);
}

TEST_F(Trend, ZoomAndPanPauseFollowingAndEndResumesIt)
{
    tankRun();
    trend->redraw();
    ASSERT_TRUE(trend->isFollowing());
    auto* view = trend->chartView();
    auto* bar = view->findChild<QWidget*>(QStringLiteral("followBar"));
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->isVisible());

    // The wheel zooms in around the pointer: the time under it stays where it is.
    const double x = trend->xOf(150);
    const QPoint at = viewPoint(x);
    QWheelEvent wheel(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_FALSE(trend->isFollowing());
    EXPECT_TRUE(bar->isVisible());
    EXPECT_NEAR(trend->viewTo() - trend->viewFrom(), 300 * 0.8, 1e-6);
    // The pointer is on a whole pixel: the time under it is within a pixel's time.
    EXPECT_NEAR(trend->timeAt(trend->chartView()->mapToScene(at).x()), 150, 300 / trend->chart()->plotArea().width());

    // New values leave the paused view where it is.
    const double from = trend->viewFrom();
    RunRecord& r = doc.record();
    r.add(0, 400, 4);
    trend->refresh();
    EXPECT_DOUBLE_EQ(trend->viewFrom(), from);

    // Keys pan; dragging pans.
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Right);
    EXPECT_NEAR(trend->viewFrom(), from + 24, 1e-6);
    const double before = trend->viewFrom();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, viewPoint(trend->xOf(150)));
    QTest::mouseMove(view->viewport(), viewPoint(trend->xOf(150) + 50));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, viewPoint(trend->xOf(150) + 50));
    EXPECT_LT(trend->viewFrom(), before) << "dragging to the right shows earlier times";

    // End follows again: the whole run, up to its new end.
    QTest::keyClick(view, Qt::Key_End);
    EXPECT_TRUE(trend->isFollowing());
    EXPECT_FALSE(bar->isVisible());
    EXPECT_DOUBLE_EQ(trend->viewFrom(), 0);
    EXPECT_DOUBLE_EQ(trend->viewTo(), 400);
    r.add(0, 500, 5);
    trend->refresh();
    EXPECT_DOUBLE_EQ(trend->viewTo(), 500);
}

TEST_F(Trend, ViewCommandsHideEitherLowerPaneButNotBoth)
{
    auto* console = frame->consoleView();
    EXPECT_TRUE(console->isVisible());
    EXPECT_TRUE(trend->isVisible());
    const CommandTarget::Handler* consoleToggle = frame->findHandler(Cmd::ViewConsole);
    const CommandTarget::Handler* trendToggle = frame->findHandler(Cmd::ViewTrend);
    ASSERT_TRUE(consoleToggle && trendToggle);
    EXPECT_TRUE(trendToggle->checked());
    trendToggle->run();
    EXPECT_FALSE(trend->isVisible());
    EXPECT_FALSE(trendToggle->checked());
    EXPECT_FALSE(consoleToggle->enabled()) << "the console is the last pane of the pair";
    trendToggle->run();
    EXPECT_TRUE(trend->isVisible());
    EXPECT_TRUE(consoleToggle->enabled());
}

TEST_F(Trend, RunReportHoldsTheFactsListingConsoleAndPlot)
{
    record->programName = QStringLiteral("/home/op/tank.kelm");
    record->process = RunnerProcess{1234, 0, QStringLiteral("/home/op/tank.kelm"), QStringLiteral("simhost"),
                                    QStringLiteral("plant7")};
    record->startTime = 0;
    record->state = MonitorState::Executing;
    record->openedAt = QDateTime(QDate(2026, 3, 4), QTime(10, 20));
    record->latestTime = 300;
    tankRun();
    doc.appendConsoleLine(QStringLiteral("[00:04:10] {P101:RUN} = 0"));
    doc.appendConsoleLine(QStringLiteral("[00:05:00] <b>not markup</b>"));
    doc.live().setWritten(9, 0);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList asked;
    QString answer = dir.filePath("report");
    const Modal::FileHook previous =
        Modal::setFileHook([&](const QString& title, const QString&, const QString& proposed) {
            asked << title << proposed;
            return answer;
        });
    frame->exportRunReport();
    EXPECT_EQ(asked, (QStringList{"Export Run Report", "tank report.pdf"}));
    const QString pdf = answer + ".pdf";
    ASSERT_GT(QFileInfo(pdf).size(), 0) << "a name without an extension gets .pdf";

    QProcess text;
    text.start("pdftotext", {"-layout", pdf, "-"});
    if (!text.waitForFinished(scaledMs(30000)) || text.exitCode() != 0) {
        Modal::setFileHook(previous);
        GTEST_SKIP() << "pdftotext is needed to read the report";
    }
    const QString report = QString::fromUtf8(text.readAllStandardOutput());
    for (const char* expected : {"Run report: tank.kelm", "/home/op/tank.kelm", "simhost", "plant7", "Executing",
                                 "after (12) {T101:LEVEL} = 12", "[00:04:10] {P101:RUN} = 0", "<b>not markup</b>",
                                 "still running at simulation"})
        EXPECT_TRUE(report.contains(QLatin1String(expected))) << expected << "\n" << report.toStdString();

    // The live text of a line follows it (the layout of the text decides the blanks between).
    EXPECT_TRUE(report.contains(QRegularExpression("after \\(9\\) \\{T101:LEVEL\\} = 9 +wrote 0")));

    // A folder that cannot hold the report leaves the file unwritten and the user told.
    answer = dir.filePath("missing/report.pdf");
    QStringList boxes;
    const KMessageBox::Hook previousBox = KMessageBox::setHook([&](const KMessageBox::Request& r) {
        boxes << r.text;
        return QMessageBox::Ok;
    });
    frame->exportRunReport();
    KMessageBox::setHook(previousBox);
    Modal::setFileHook(previous);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes.constFirst().startsWith("Cannot export " + answer + ".\n")) << boxes.constFirst().toStdString();
    EXPECT_FALSE(QFileInfo::exists(answer));
}

} // namespace
