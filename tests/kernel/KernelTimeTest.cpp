#include "kernel/KernelTime.h"
#include "vmsg/vmsg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(FormatKernelTime, ElapsedTruncatesEachFieldTowardZero)
{
    EXPECT_EQ(FormatKernelTime(3725.9, false), "01:02:05");
    EXPECT_EQ(FormatKernelTime(0.0, false), "00:00:00");
    EXPECT_EQ(FormatKernelTime(59.999, false), "00:00:59");
    EXPECT_EQ(FormatKernelTime(3599.5, false), "00:59:59");
    EXPECT_EQ(FormatKernelTime(86399.0, false), "23:59:59");
    EXPECT_EQ(FormatKernelTime(360000.0, false), "100:00:00");
    EXPECT_EQ(FormatKernelTime(360000.0, false).size(), 9);
}

TEST(FormatKernelTime, ElapsedKeepsTheSignInEachField)
{
    EXPECT_EQ(FormatKernelTime(-30.0, false), "00:00:-30");
    EXPECT_EQ(FormatKernelTime(-3725.9, false), "-1:-2:-5");
    EXPECT_EQ(FormatKernelTime(-0.4, false), "00:00:00");
}

TEST(FormatKernelTime, ElapsedSurvivesValuesNoClockReaches)
{
    EXPECT_EQ(FormatKernelTime(std::nan(""), false), "00:00:00");
    EXPECT_EQ(FormatKernelTime(std::numeric_limits<double>::infinity(), false), "00:00:00");
    EXPECT_EQ(FormatKernelTime(1e300, false), "277777777777:46:40");
    EXPECT_EQ(FormatKernelTime(-1e300, false), "-277777777777:-46:-40");
}

TEST(FormatKernelTime, CalendarIsDayMonthYearAndTime)
{
    std::tm local{};
    local.tm_mday = 5;
    local.tm_mon = 2;
    local.tm_year = 107;
    local.tm_hour = 14;
    local.tm_min = 3;
    local.tm_sec = 9;
    EXPECT_EQ(formatCalendarTime(local), "05-03-07 14:03:09");
    EXPECT_EQ(formatCalendarTime(local).size(), 17);
    local = std::tm{};
    local.tm_mday = 31;
    local.tm_mon = 11;
    local.tm_year = 109;
    local.tm_hour = 23;
    local.tm_min = 59;
    local.tm_sec = 59;
    EXPECT_EQ(formatCalendarTime(local), "31-12-09 23:59:59");
}

TEST(isCalendarTime, ATimeExactly356DaysBeforeNowIsElapsed)
{
    const std::time_t now = 1700000000;
    EXPECT_FALSE(isCalendarTime(double(now) - 30758400.0, now));
    EXPECT_TRUE(isCalendarTime(double(now) - 30758400.0 + 0.001, now));
    EXPECT_TRUE(isCalendarTime(double(now), now));
    EXPECT_FALSE(isCalendarTime(double(now) - 365.0 * 86400.0, now));
    EXPECT_FALSE(isCalendarTime(3725.9, now));
    EXPECT_FALSE(isCalendarTime(std::nan(""), now));
}

namespace {

void pushShortStatus(vmsgMsgPort& m, double t, int s)
{
    m.push(t);
    m.push_divider();
    m.push(s);
    m.push_divider();
}

} // namespace

TEST(DecodeKernelStatusValues, ReadsBothLayouts)
{
    vmsgMsgPort shortLayout;
    pushShortStatus(shortLayout, 3725.9, 1);
    std::optional<KernelStatus> status = decodeKernelStatusValues(shortLayout);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->time, 3725.9);
    EXPECT_EQ(status->state, 1);

    vmsgMsgPort longLayout;
    longLayout.push(7);
    longLayout.push_divider();
    longLayout.push("demo plant");
    longLayout.push_divider();
    longLayout.push(-30.0);
    longLayout.push_divider();
    longLayout.push(2);
    longLayout.push_divider();
    status = decodeKernelStatusValues(longLayout);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->time, -30.0);
    EXPECT_EQ(status->state, 2);
}

TEST(DecodeKernelStatusValues, RejectsEveryOtherLayout)
{
    vmsgMsgPort noDividers;
    noDividers.push(1.0);
    noDividers.push(1);
    vmsgMsgPort integerTime;
    integerTime.push(5);
    integerTime.push_divider();
    integerTime.push(1);
    integerTime.push_divider();
    vmsgMsgPort extraValue;
    pushShortStatus(extraValue, 1.0, 1);
    extraValue.push(3);
    vmsgMsgPort empty;
    vmsgMsgPort longWithoutString;
    longWithoutString.push(1);
    longWithoutString.push_divider();
    longWithoutString.push(1.0);
    longWithoutString.push_divider();
    longWithoutString.push(1);
    longWithoutString.push_divider();
    for (vmsgMsgPort* m : {&noDividers, &integerTime, &extraValue, &empty, &longWithoutString})
        EXPECT_FALSE(decodeKernelStatusValues(*m));
}

TEST(atoiText, ReadsTheNumberAtTheStartAsAtoiDoes)
{
    EXPECT_EQ(atoiText("12abc"), 12);
    EXPECT_EQ(atoiText("abc"), 0);
    EXPECT_EQ(atoiText(""), 0);
    EXPECT_EQ(atoiText("  -7"), -7);
    EXPECT_EQ(atoiText("\t+3 4"), 3);
    EXPECT_EQ(atoiText("\n\v\f\r 42"), 42);
    EXPECT_EQ(atoiText("- 5"), 0);
    EXPECT_EQ(atoiText("+-5"), 0);
    EXPECT_EQ(atoiText("0x10"), 0);
    EXPECT_EQ(atoiText("007"), 7);
    EXPECT_EQ(atoiText("3.9"), 3);
    EXPECT_EQ(atoiText(QString::fromUtf8("\u00a012")), 0); // only the C locale's blanks are skipped
}

TEST(atoiText, ClampsNumbersBeyondTheIntRange)
{
    EXPECT_EQ(atoiText("2147483647"), std::numeric_limits<int>::max());
    EXPECT_EQ(atoiText("2147483648"), std::numeric_limits<int>::max());
    EXPECT_EQ(atoiText("-2147483648"), std::numeric_limits<int>::min());
    EXPECT_EQ(atoiText("-99999999999999999999999"), std::numeric_limits<int>::min());
    EXPECT_EQ(atoiText(QString(5000, QLatin1Char('9'))), std::numeric_limits<int>::max());
}
