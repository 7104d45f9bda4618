#include "monitor/RunRecord.h"

#include <gtest/gtest.h>

namespace {

TEST(RunRecord, PointsAndEnvelopesByTimeRange)
{
    RunRecord r;
    const int level = r.tagIndex(QStringLiteral("T101:LEVEL"));
    EXPECT_EQ(r.tagIndex(QStringLiteral("P101:RUN")), 1);
    EXPECT_EQ(r.tagIndex(QStringLiteral("T101:LEVEL")), level);
    for (int i = 0; i < 100; ++i)
        r.add(level, i, i % 10); // a saw tooth, 0 to 9 in every 10 s
    r.add(level, 50, -1);        // earlier than the last point: taken as at the last
    EXPECT_EQ(r.pointCount(), 101u);
    EXPECT_EQ(r.lastTime(), 99);

    const auto some = r.points(level, 10, 12.5);
    ASSERT_EQ(some.size(), 3u);
    EXPECT_EQ(some.front().time, 10);
    EXPECT_EQ(some.back().value, 2);

    const auto columns = r.envelope(level, 0, 100, 10);
    ASSERT_EQ(columns.size(), 10u);
    EXPECT_EQ(columns[0].min, 0);
    EXPECT_EQ(columns[0].max, 9);
    EXPECT_EQ(columns[9].min, -1) << "the late point is in the last column";
    // Columns without points are left out; a reversed or empty range gives nothing.
    EXPECT_EQ(r.envelope(level, 0, 1000, 10).size(), 1u);
    EXPECT_TRUE(r.envelope(level, 10, 10, 5).empty());
    EXPECT_TRUE(r.points(7, 0, 100).empty());
}

TEST(RunRecord, FiringsKeepTheValueWrittenByTheirLine)
{
    RunRecord r;
    r.addFiring({9, 120, false, 0});
    r.addFiring({10, 130, false, 0});
    r.setWritten(9, 0.5);
    ASSERT_EQ(r.firings().size(), 2u);
    EXPECT_TRUE(r.firings()[0].wrote);
    EXPECT_EQ(r.firings()[0].value, 0.5);
    EXPECT_FALSE(r.firings()[1].wrote);
    EXPECT_EQ(r.firstTime(), 120);
    EXPECT_EQ(r.lastTime(), 130);
}

} // namespace
