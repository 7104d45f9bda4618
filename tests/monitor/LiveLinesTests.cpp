#include "monitor/LiveLines.h"
#include "monitor/MonitorText.h"

#include <gtest/gtest.h>

namespace {

using TagValues = std::vector<LiveLines::TagValue>;
using Lines = std::vector<int>;

TEST(LiveLines, AWhenLineShowsEachTagsValueAndWhetherItHolds)
{
    LiveLines live;
    live.setWhen(9, false, TagValues{{"T101:LEVEL", 2.41}});
    EXPECT_EQ(live.text(9), QString("T101:LEVEL 2.41 ") + QChar(0x00B7) + " false");
    EXPECT_EQ(live.role(9), LiveLines::Role::Waiting);
    live.setWhen(10, true, TagValues{{"T101:LEVEL", 3.5}, {"FV101:TRAVEL", 0}});
    EXPECT_EQ(live.text(10), QString("T101:LEVEL 3.5, FV101:TRAVEL 0 ") + QChar(0x00B7) + " true");
    EXPECT_EQ(live.role(10), LiveLines::Role::Holds);
    EXPECT_EQ(live.toolTip(10), "The condition holds.\n{T101:LEVEL} = 3.5\n{FV101:TRAVEL} = 0");
    // A condition without tags still says whether it holds.
    live.setWhen(11, false, {});
    EXPECT_EQ(live.text(11), QString(QChar(0x00B7)) + " false");
    // Many tags: the text beside the line is cut, the tool tip has them all.
    TagValues many;
    for (int i = 0; i < 50; ++i)
        many.push_back({QString("BLOCK%1:TAG").arg(i), double(i)});
    live.setWhen(12, false, many);
    EXPECT_EQ(live.text(12).size(), LiveLines::MaxText);
    EXPECT_EQ(live.toolTip(12).count('\n'), 50);
    EXPECT_TRUE(live.text(1).isEmpty());
    EXPECT_EQ(live.role(1), LiveLines::Role::None);
    EXPECT_TRUE(live.toolTip(1).isEmpty());
}

TEST(LiveLines, ACountdownFollowsTheRunnersClockAndStandsWithIt)
{
    LiveLines live;
    live.setDue(4, 100.0);
    // No clock yet: the due time itself.
    EXPECT_EQ(live.text(4), "at 00:01:40");
    live.setClock(20.0, LiveLines::Running);
    EXPECT_EQ(live.text(4), "in 01:20");
    EXPECT_EQ(live.role(4), LiveLines::Role::Countdown);
    live.setClock(20.5, LiveLines::Running);
    EXPECT_EQ(live.text(4), "in 01:20"); // whole seconds, counted upwards
    live.setClock(30.0, LiveLines::Paused);
    EXPECT_EQ(live.text(4), "in 01:10");
    EXPECT_EQ(live.toolTip(4), "Falls due at 00:01:40\nKernel time 00:00:30, in 01:10\n"
                               "The kernel is paused: the countdown stands.");
    live.setClock(100.0, LiveLines::Running);
    EXPECT_EQ(live.text(4), "due");
    EXPECT_EQ(LiveLines::countdown(3723), "in 1:02:03");
    EXPECT_EQ(LiveLines::countdown(0.2), "in 00:01");
    EXPECT_EQ(LiveLines::countdown(-5), "due");
    EXPECT_EQ(LiveLines::countdown(std::nan("")), "due");
    // A calendar kernel: the monitor's own time format.
    live.setTimeFormatter([](double t) { return QString("T%1").arg(t); });
    live.setDue(5, 1.7e9 + 90);
    live.setClock(1.7e9, LiveLines::Running);
    EXPECT_EQ(live.toolTip(5), "Falls due at T1.7e+09\nKernel time T1.7e+09, in 01:30");
}

TEST(LiveLines, RampsWrittenValuesAndNeverFiredLines)
{
    LiveLines live;
    live.setDue(5, 0);
    live.lineFired(5);
    EXPECT_TRUE(live.text(5).isEmpty()) << "a line that fires stops waiting";
    live.setRamp(5, 2.5, 3);
    EXPECT_EQ(live.text(5), QString("2.5 ") + QChar(0x2192) + " 3");
    EXPECT_EQ(live.role(5), LiveLines::Role::Ramp);
    live.setWritten(5, 3);
    EXPECT_EQ(live.text(5), "wrote 3");
    EXPECT_EQ(live.role(5), LiveLines::Role::Written);
    // The next firing of the line (a ramp's stamp) keeps what it wrote.
    live.lineFired(5);
    EXPECT_EQ(live.text(5), "wrote 3");
    EXPECT_EQ(live.toolTip(5), "Fired and wrote 3");
    live.setWhen(7, false, TagValues{{"A:X", 1}});
    live.setNotFired(7);
    EXPECT_EQ(live.text(7), "never fired");
    EXPECT_EQ(live.role(7), LiveLines::Role::NotFired);
    EXPECT_EQ(LiveLines::number(-0.0), "0");
    EXPECT_EQ(LiveLines::number(0.1), "0.1");
    EXPECT_EQ(LiveLines::number(1.322057002), "1.32206") << "six significant digits beside the line";
    EXPECT_EQ(LiveLines::number(101325), "101325");
    live.setWritten(8, 1.322057002);
    EXPECT_EQ(live.toolTip(8), "Fired and wrote 1.322057002") << "the tool tip has the full value";
}

TEST(LiveLines, ChangesNameOnlyTheLinesToRepaint)
{
    LiveLines live;
    live.setDue(3, 50);
    live.setWhen(8, false, {});
    live.setDue(12, 60);
    EXPECT_EQ(live.takeChanged(), (Lines{3, 8, 12}));
    EXPECT_EQ(live.takeChanged(), Lines{});
    // The clock moves every countdown, not the when line.
    live.setClock(1, LiveLines::Running);
    EXPECT_EQ(live.takeChanged(), (Lines{3, 12}));
    live.setClock(1, LiveLines::Running);
    EXPECT_EQ(live.takeChanged(), Lines{});
    // A line that stopped counting down is no longer moved by the clock.
    live.setWritten(3, 1);
    live.takeChanged();
    live.setClock(2, LiveLines::Running);
    EXPECT_EQ(live.takeChanged(), Lines{12});
}

TEST(LiveLines, TheKernelNoticeComesFromTheRunnerElseFromKelmDesksOwnStatus)
{
    LiveLines live;
    EXPECT_TRUE(live.kernelNotice().isEmpty());
    EXPECT_FALSE(live.noticeChanged());
    live.setFallbackState(LiveLines::Paused);
    EXPECT_EQ(live.kernelNotice(), MonitorText::kernelPausedNotice);
    EXPECT_TRUE(live.noticeChanged());
    EXPECT_FALSE(live.noticeChanged());
    // The runner's own report wins over KelmDesk's status (it may watch another kernel).
    live.setClock(5, LiveLines::Running);
    EXPECT_TRUE(live.kernelNotice().isEmpty());
    live.setClock(5, LiveLines::NoModel);
    EXPECT_EQ(live.kernelNotice(), MonitorText::kernelNoModelNotice);
    live.setFinished();
    EXPECT_TRUE(live.kernelNotice().isEmpty());
}

TEST(LiveLines, CopiedLinesCarryTheirTextsOnlyWhereTheyHaveOne)
{
    LiveLines live;
    live.setWhen(3, false, {{QStringLiteral("T101:LEVEL"), 2.5}});
    live.setWritten(4, 0);
    const QString copied =
        live.withTexts({QStringLiteral("2: * tank"), QStringLiteral("3: when"), QStringLiteral("4: after")}, 2);
    EXPECT_EQ(copied.toStdString(), "2: * tank\n3: when  " + live.text(3).toStdString() + "\n4: after  wrote 0\n");
    EXPECT_TRUE(live.withTexts({}, 1).isEmpty());
}

} // namespace
