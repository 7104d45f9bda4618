// Run record figures, each against its goal:
//  (a) bytes a point at 1,000,000 points (goal: at most 24): the record's own count and the heap
//      it holds, for one tag and for eight;
//  (b) CSV export of 1,000,000 points, text and file (goal: at most 2 s);
//  (c) CPU a recorded point costs, a live message's tag looked up by name, in the steady state past
//      the bound where decimation runs, scaled to 400 points a second (goal: at most 5 % of a core);
//  (d) the envelope of 8 tags x 1,000,000 points into 1,000 columns (goal: at most 16 ms with the
//      drawing): the query alone, and with the columns drawn by QPainter into an image.

#include "bench/BenchSupport.h"

#include "monitor/RunRecord.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

std::size_t heapInUse()
{
    malloc_trim(0);
    return mallinfo2().uordblks;
}

double wallMs(const std::chrono::steady_clock::time_point& since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

// A level that rises and falls with noise, as a simulated process does: time step 0.25 s.
void fill(RunRecord& r, int tags, std::size_t perTag, bool sharedTimes)
{
    std::mt19937 random(1);
    std::uniform_real_distribution<double> noise(-0.01, 0.01);
    std::vector<int> index;
    for (int t = 0; t < tags; ++t)
        index.push_back(r.tagIndex(QStringLiteral("T%1:LEVEL").arg(101 + t)));
    for (std::size_t i = 0; i < perTag; ++i) {
        for (int t = 0; t < tags; ++t) {
            const double time = double(i) * 0.25 + (sharedTimes ? 0 : t * 0.01);
            r.add(index[std::size_t(t)], time, 3 * std::sin(double(i) * 1e-4 * (t + 1)) + noise(random));
        }
    }
}

void bytesPerPoint(int tags, std::size_t perTag)
{
    const std::size_t before = heapInUse();
    auto r = std::make_unique<RunRecord>();
    fill(*r, tags, perTag, true);
    const std::size_t heap = heapInUse() - before;
    const double points = double(r->pointCount());
    std::printf("(a) %d tag(s) x %zu points: %zu held, %zu decimated; record's count %.2f B/point, heap %.2f "
                "B/point (goal <= 24)\n",
                tags, perTag, r->pointCount(), r->decimatedPoints(), double(r->pointBytes()) / points,
                double(heap) / points);
}

void csvExport(int tags, std::size_t perTag, bool sharedTimes)
{
    RunRecord r;
    fill(r, tags, perTag, sharedTimes);
    QTemporaryDir dir;
    const auto start = std::chrono::steady_clock::now();
    const double cpu = bench::processCpuMicros();
    const QByteArray text = r.valuesCsv();
    const double textMs = wallMs(start);
    QFile file(dir.filePath("run.csv"));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        std::printf("cannot write %s\n", qPrintable(file.fileName()));
    file.close();
    std::printf("(b) CSV of %d tag(s) x %zu points (%s times): %zu points, %.1f MB; text %.0f ms, with the file "
                "%.0f ms wall, %.0f ms CPU (goal <= 2000 ms)\n",
                tags, perTag, sharedTimes ? "shared" : "own", r.pointCount(), text.size() / 1e6, textMs, wallMs(start),
                (bench::processCpuMicros() - cpu) / 1e3);
}

void recordingCost()
{
    // As a live message comes: its tag by name, then the value; past the bound, so decimation runs.
    RunRecord r;
    const QString names[] = {QStringLiteral("T101:LEVEL"), QStringLiteral("FV101:POS"), QStringLiteral("P101:SPEED"),
                             QStringLiteral("T102:TEMP")};
    const std::size_t n = 3 * RunRecord::ExactPoints;
    std::mt19937 random(2);
    std::uniform_real_distribution<double> value(0, 10);
    std::vector<double> values(n);
    for (double& v : values)
        v = value(random);
    const double cpu = bench::threadCpuMicros();
    for (std::size_t i = 0; i < n; ++i)
        r.add(r.tagIndex(names[i % 4]), double(i) * 0.0025, values[i]);
    const double perPointUs = (bench::threadCpuMicros() - cpu) / double(n);
    std::printf("(c) recording: %.3f us CPU a point over %zu points (%zu decimated); at 400 points/s %.4f %% of one "
                "core (goal <= 5 %%)\n",
                perPointUs, n, r.decimatedPoints(), perPointUs * 400 / 1e6 * 100);
}

void envelopeTime(const char* what, const RunRecord& r, int tags)
{
    const double from = r.firstTime();
    const double to = std::nextafter(r.lastTime(), 1e300);
    QImage image(1000, 400, QImage::Format_ARGB32_Premultiplied);
    double best = 1e9;
    double worst = 0;
    double bestDrawn = 1e9;
    for (int round = 0; round < 20; ++round) {
        auto start = std::chrono::steady_clock::now();
        std::vector<std::vector<RunRecord::Bucket>> columns;
        for (int t = 0; t < tags; ++t)
            columns.push_back(r.envelope(t, from, to, 1000));
        const double ms = wallMs(start);
        best = std::min(best, ms);
        worst = std::max(worst, ms);
        image.fill(Qt::white);
        QPainter p(&image);
        for (int t = 0; t < tags; ++t) {
            p.setPen(QColor::fromHsv(t * 45, 255, 200));
            for (std::size_t c = 0; c < columns[std::size_t(t)].size(); ++c) {
                const RunRecord::Bucket& b = columns[std::size_t(t)][c];
                const int x = int((b.from - from) / (to - from) * 1000);
                p.drawLine(x, int(200 - b.min * 60), x, int(200 - b.max * 60));
            }
        }
        p.end();
        bestDrawn = std::min(bestDrawn, wallMs(start));
    }
    std::printf("(d) envelope, %s: query %.2f ms (worst of 20 %.2f ms), with drawing into an image %.2f ms (goal "
                "<= 16 ms)\n",
                what, best, worst, bestDrawn);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    bytesPerPoint(1, 1000000);
    bytesPerPoint(8, 125000);
    csvExport(1, 1000000, true);
    csvExport(8, 125000, true);
    csvExport(8, 125000, false);
    recordingCost();
    {
        RunRecord r;
        fill(r, 8, 125000, true);
        envelopeTime("8 tags x 125,000 points, all exact", r, 8);
    }
    {
        RunRecord r;
        fill(r, 8, 1000000, true);
        envelopeTime("8 tags x 1,000,000 points added, as the record holds them", r, 8);
    }
    {
        RunRecord r(8 * RunRecord::ExactPoints, RunRecord::DecimatedPoints);
        fill(r, 8, 1000000, true);
        envelopeTime("8 tags x 1,000,000 points all held exactly (a record with an 8-times bound)", r, 8);
    }
    return 0;
}
