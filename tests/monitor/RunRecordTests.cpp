#include "monitor/RunRecord.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace {

// A saw tooth with noise: values whose extremes fall anywhere in an interval.
double noisy(std::mt19937& random, std::size_t i)
{
    return double(i % 997) + std::uniform_real_distribution<double>(-50, 50)(random);
}

// Reads CSV text as RFC 4180 has it: fields split at commas, quoted fields with doubled quotes,
// records ended by CR LF.
std::vector<std::vector<QString>> readCsv(const QByteArray& text)
{
    std::vector<std::vector<QString>> rows;
    std::vector<QString> row;
    QByteArray field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field.append(text[++i]);
            else if (c == '"')
                quoted = false;
            else
                field.append(c);
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(QString::fromUtf8(field));
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            row.push_back(QString::fromUtf8(field));
            field.clear();
            rows.push_back(row);
            row.clear();
            ++i;
        } else {
            field.append(c);
        }
    }
    EXPECT_TRUE(field.isEmpty() && row.empty()) << "the last record is ended";
    return rows;
}

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

// A run far beyond the bound: the latest points stay exact, older ones keep every interval's
// minimum and maximum, and every point is either held or counted as decimated.
TEST(RunRecord, DecimationKeepsTheLatestPointsExactAndEveryExtremeOfTheOlderOnes)
{
    RunRecord r;
    const int level = r.tagIndex(QStringLiteral("T101:LEVEL"));
    const std::size_t total = RunRecord::ExactPoints + 40 * RunRecord::ChunkPoints + 17;
    std::mt19937 random(7);
    std::vector<double> values(total);
    for (std::size_t i = 0; i < total; ++i) {
        values[i] = noisy(random, i);
        r.add(level, double(i) * 0.25, values[i]);
    }
    EXPECT_EQ(r.pointCount() + r.decimatedPoints(), total);
    EXPECT_EQ(r.decimatedPoints(level), r.decimatedPoints());
    EXPECT_GT(r.decimatedPoints(), 0u);
    EXPECT_GE(r.pointCount(), RunRecord::ExactPoints);
    EXPECT_LE(r.pointBytes(), 17 * r.pointCount()) << "16 bytes a point and little more";
    ASSERT_TRUE(r.decimatedThrough(level).has_value());
    EXPECT_LT(*r.decimatedThrough(level), (total - RunRecord::ExactPoints) * 0.25);

    // The latest ExactPoints points exactly as they came, and the query starts at the right point.
    const std::size_t first = total - RunRecord::ExactPoints;
    const auto latest = r.points(level, double(first) * 0.25, 1e300);
    ASSERT_EQ(latest.size(), RunRecord::ExactPoints);
    for (std::size_t i = 0; i < latest.size(); i += 997)
        ASSERT_EQ(latest[i].value, values[first + i]) << i;
    EXPECT_EQ(latest.back().time, double(total - 1) * 0.25);

    // Over columns of whole decimation spans, the envelope is that of every point ever added.
    const double span = double(RunRecord::DecimationSpan) * 0.25;
    const int columns = int(total / RunRecord::DecimationSpan);
    const auto buckets = r.envelope(level, 0, columns * span, columns);
    ASSERT_EQ(buckets.size(), std::size_t(columns));
    for (int c = 0; c < columns; ++c) {
        const auto begin = values.begin() + c * std::ptrdiff_t(RunRecord::DecimationSpan);
        const auto [lo, hi] = std::minmax_element(begin, begin + std::ptrdiff_t(RunRecord::DecimationSpan));
        ASSERT_EQ(buckets[std::size_t(c)].min, *lo) << c;
        ASSERT_EQ(buckets[std::size_t(c)].max, *hi) << c;
    }
    // Decimated points are points of the run, in time order.
    const auto older = r.points(level, 0, double(first) * 0.25);
    ASSERT_FALSE(older.empty());
    for (std::size_t i = 0; i < older.size(); ++i) {
        const auto k = std::size_t(std::lround(older[i].time / 0.25));
        ASSERT_EQ(older[i].value, values[k]) << i;
        if (i > 0) {
            ASSERT_GT(older[i].time, older[i - 1].time);
        }
    }
}

// However long the run and however many tags, what is held stays within the bounds; merged
// intervals keep the overall extremes.
TEST(RunRecord, HeldPointsStayBoundedAcrossTagsAndMergesKeepTheExtremes)
{
    const std::size_t exact = 8 * RunRecord::ChunkPoints;
    const std::size_t decimated = 512;
    RunRecord r(exact, decimated);
    std::vector<int> tags;
    for (int t = 0; t < 3; ++t)
        tags.push_back(r.tagIndex(QStringLiteral("TAG%1").arg(t)));
    std::mt19937 random(11);
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -lowest;
    std::size_t added = 0;
    for (std::size_t i = 0; i < 400000; ++i) {
        const double v = noisy(random, i) * (i == 123456 ? 100 : 1);
        if (i % 3 == 0) {
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
        }
        r.add(tags[i % 3], double(i), v);
        ++added;
        ASSERT_LE(r.pointCount(), exact + decimated + 3 * RunRecord::ChunkPoints + 4) << i;
    }
    EXPECT_EQ(r.pointCount() + r.decimatedPoints(), added);
    const auto all = r.envelope(tags[0], 0, 400000, 1);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].min, lowest);
    EXPECT_EQ(all[0].max, highest);
    EXPECT_GE(r.pointCount(tags[0]) + r.pointCount(tags[1]) + r.pointCount(tags[2]), exact);
}

TEST(RunRecord, QueriesAtTheEdgesOfARange)
{
    RunRecord r;
    const int a = r.tagIndex(QStringLiteral("A"));
    for (int i = 0; i < 3000; ++i)
        r.add(a, i, i); // three chunks: the search crosses chunk ends
    ASSERT_EQ(r.points(a, 1024, 1024).size(), 1u) << "both ends are in the range";
    EXPECT_EQ(r.points(a, 1023.5, 2048).size(), 1025u);
    EXPECT_EQ(r.points(a, -5, 0).size(), 1u);
    EXPECT_TRUE(r.points(a, 2999.5, 1e9).empty());
    EXPECT_TRUE(r.points(a, 5, 4).empty());
    // A column holds [from, to): the point at a column's end is the next column's; the last end
    // is outside.
    const auto two = r.envelope(a, 1000, 1002, 2);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].min, 1000);
    EXPECT_EQ(two[0].max, 1000);
    EXPECT_EQ(two[1].max, 1001);
    EXPECT_EQ(r.envelope(a, 0, 3000, 3).back().max, 2999);
    EXPECT_EQ(r.envelope(a, 0, 2999, 3).back().max, 2998);
    // Ranges across block and chunk ends read every value.
    const auto odd = r.envelope(a, 63, 1090, 1);
    ASSERT_EQ(odd.size(), 1u);
    EXPECT_EQ(odd[0].min, 63);
    EXPECT_EQ(odd[0].max, 1089);
}

TEST(RunRecord, RefusesWhatItCannotKeepAndCountsIt)
{
    RunRecord r;
    const int a = r.tagIndex(QStringLiteral("A"));
    r.add(a, 1, std::nan(""));
    r.add(a, std::numeric_limits<double>::infinity(), 1);
    r.add(a + 5, 1, 1);
    r.add(-1, 1, 1);
    EXPECT_EQ(r.pointCount(), 0u);
    EXPECT_EQ(r.ignoredPoints(), 4u);
    for (int i = 1; i < RunRecord::MaxTags; ++i)
        ASSERT_EQ(r.tagIndex(QStringLiteral("T%1").arg(i)), i);
    EXPECT_EQ(r.tagIndex(QStringLiteral("ONE:TOO:MANY")), -1);
    EXPECT_EQ(r.tagIndex(QStringLiteral("T7")), 7);
    // setWritten for a line that never fired changes nothing.
    r.addFiring({3, 1, false, 0});
    r.setWritten(4, 1);
    EXPECT_FALSE(r.firings()[0].wrote);
}

// The CSV names every tag, quoted where needed, and reads back to the very values.
TEST(RunRecord, CsvReadsBackToTheRecordedValues)
{
    RunRecord r;
    const int level = r.tagIndex(QStringLiteral("T101:LEVEL"));
    const int odd = r.tagIndex(QStringLiteral("say \"hi\", then\nstop"));
    const int pos = r.tagIndex(QStringLiteral("FV101:POS"));
    r.add(level, 1, 0.1);
    r.add(odd, 1, -2.5e-300);
    r.add(level, 2.5, 1.0 / 3);
    r.add(level, 2.5, 2); // a second value at one time: a second row
    r.add(pos, 3, 100);
    r.addFiring({9, 2.5, false, 0});
    r.addFiring({2, 3, false, 0});
    r.setWritten(9, 0.1 + 0.2);

    const auto rows = readCsv(r.valuesCsv());
    using Row = std::vector<QString>;
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], (Row{"time", "T101:LEVEL", "say \"hi\", then\nstop", "FV101:POS", "decimated"}));
    EXPECT_EQ(rows[1], (Row{"1", "0.1", "-2.5e-300", "", ""}));
    EXPECT_EQ(rows[2][0], "2.5");
    EXPECT_EQ(rows[2][1].toDouble(), 1.0 / 3) << "the shortest text that reads back exactly";
    EXPECT_EQ(rows[3], (Row{"2.5", "2", "", "", ""}));
    EXPECT_EQ(rows[4], (Row{"3", "", "", "100", ""}));

    const auto firings = readCsv(r.firingsCsv());
    ASSERT_EQ(firings.size(), 3u);
    EXPECT_EQ(firings[0], (Row{"line", "time", "written"}));
    EXPECT_EQ(firings[1][2].toDouble(), 0.1 + 0.2);
    EXPECT_EQ(firings[2], (Row{"2", "3", ""}));
    EXPECT_EQ(readCsv(RunRecord().valuesCsv()), (std::vector<Row>{{"time", "decimated"}}));
}

// Decimated rows say so; Python's csv module reads both files without options.
TEST(RunRecord, CsvMarksDecimatedRowsAndPythonReadsIt)
{
    RunRecord r(RunRecord::ChunkPoints, 4096);
    const int a = r.tagIndex(QStringLiteral("A,B"));
    for (std::size_t i = 0; i < 3 * RunRecord::ChunkPoints; ++i)
        r.add(a, double(i), double(i % 100));
    const auto rows = readCsv(r.valuesCsv());
    ASSERT_EQ(rows.size(), r.pointCount() + 1);
    EXPECT_EQ(rows[1][2], "1");
    EXPECT_EQ(rows.back()[2], "");
    const auto marked = std::count_if(rows.begin(), rows.end(), [](const auto& row) { return row[2] == "1"; });
    EXPECT_EQ(std::size_t(marked), r.pointCount() - r.points(a, *r.decimatedThrough(a) + 0.5, 1e9).size());

    QTemporaryDir dir;
    QFile values(dir.filePath("run.csv"));
    ASSERT_TRUE(values.open(QIODevice::WriteOnly));
    values.write(r.valuesCsv());
    values.close();
    QProcess python;
    python.start("python3", {"-c",
                             "import csv, sys\n"
                             "rows = list(csv.reader(open(sys.argv[1], newline='')))\n"
                             "print(len(rows), rows[0][1], sum(float(x[1]) for x in rows[1:]))",
                             values.fileName()});
    if (!python.waitForFinished(60000) || python.exitStatus() != QProcess::NormalExit)
        GTEST_SKIP() << "python3 is needed to read the file";
    double sum = 0;
    for (const auto& p : r.points(a, 0, 1e9))
        sum += p.value;
    EXPECT_EQ(QString::fromUtf8(python.readAllStandardOutput()).trimmed(),
              QStringLiteral("%1 A,B %2").arg(r.pointCount() + 1).arg(sum, 0, 'f', 1));
}

} // namespace
