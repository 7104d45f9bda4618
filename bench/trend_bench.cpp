// Redraw of the trend pane with 8 tags of 1,000,000 points each, against the goal of 16 ms a
// redraw: the envelope handed to Qt Charts and the painting of the chart view, each measured apart
// and together, for the whole run in view (following) and for a zoomed view.
//
//   QT_QPA_PLATFORM=offscreen trend_bench [rounds]

#include "monitor/CTrendPane.h"
#include "monitor/RunRecord.h"

#include <QApplication>
#include <QChart>
#include <QElapsedTimer>
#include <QLineSeries>
#include <QPixmap>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int Tags = 8;
constexpr int Points = 1000000;
constexpr double GoalMs = 16.0;

struct Figures
{
    double median = 0;
    double worst = 0;
};

Figures summarise(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

void report(const char* what, const Figures& f)
{
    std::printf("%-44s median %7.2f ms  worst %7.2f ms  %s\n", what, f.median, f.worst,
                f.median <= GoalMs ? "within 16 ms" : "OVER 16 ms");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;

    RunRecord record;
    QElapsedTimer clock;
    clock.start();
    for (int k = 0; k < Tags; ++k) {
        const int tag = record.tagIndex(QStringLiteral("T%1:PV").arg(k));
        // Ranges from 0.01 to 10^6: the curves differ widely, as a tank's level and a pump's speed do.
        const double scale = std::pow(10.0, k - 2);
        for (int i = 0; i < Points; ++i)
            record.add(tag, i * 0.1, scale * (std::sin(i * 1e-4 * (k + 1)) + 0.05 * double((i * 7919LL) % 13)));
    }
    for (int i = 0; i < 200; ++i)
        record.addFiring({1 + i % 40, i * 500.0, false, 0});
    std::printf("record: %d tags x %d points filled in %.0f ms\n", Tags, Points, double(clock.elapsed()));

    CTrendPane pane(record);
    pane.resize(1200, 500);
    pane.show();
    QCoreApplication::processEvents();
    pane.redraw();
    const int columns = int(pane.chart()->plotArea().width());
    QPixmap canvas(pane.chartView()->viewport()->size());

    auto measure = [&](bool zoomed) {
        std::vector<double> draw, paint, both;
        for (int r = 0; r < rounds; ++r) {
            if (zoomed) {
                // A different window every round, so that nothing drawn before can be reused.
                const double from = 10000.0 + r * 997.0;
                pane.setView(from, from + 40000.0);
            }
            QElapsedTimer t;
            t.start();
            pane.redraw();
            const double drawn = double(t.nsecsElapsed()) / 1e6;
            t.restart();
            QPainter painter(&canvas);
            pane.chartView()->viewport()->render(&painter);
            painter.end();
            const double painted = double(t.nsecsElapsed()) / 1e6;
            draw.push_back(drawn);
            paint.push_back(painted);
            both.push_back(drawn + painted);
        }
        const char* view = zoomed ? "zoomed (4% of the run)" : "whole run (following)";
        std::printf("\n%s, %d pixel columns, %d rounds\n", view, columns, rounds);
        report("  envelope and hand-off to Qt Charts", summarise(draw));
        report("  painting the chart view", summarise(paint));
        report("  redraw in all", summarise(both));
    };
    {
        // The record's envelope alone, for the eight curves of the whole run.
        std::vector<double> ms;
        for (int r = 0; r < rounds; ++r) {
            QElapsedTimer t;
            t.start();
            std::size_t buckets = 0;
            for (int k = 0; k < Tags; ++k)
                buckets += record.envelope(k, record.firstTime(), record.lastTime() + 1, columns).size();
            ms.push_back(double(t.nsecsElapsed()) / 1e6 + double(buckets) * 0);
        }
        std::printf("\nwhole run, %d pixel columns, %d rounds\n", columns, rounds);
        report("  RunRecord::envelope of 8 tags alone", summarise(ms));
    }
    measure(false);
    int handed = 0;
    for (int k = 0; k < Tags; ++k)
        handed += pane.curve(k)->count();
    std::printf("  points handed to Qt Charts: %d for %d recorded (%.1f a column and tag)\n", handed, Tags * Points,
                double(handed) / columns / Tags);
    measure(true);
    return 0;
}
