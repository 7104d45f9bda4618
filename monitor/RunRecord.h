#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <deque>
#include <optional>
#include <unordered_map>
#include <vector>

// What a run did, kept for the run: every value a monitor learns of a tag, at the simulation time
// it learnt it, and every firing. Times rise within a tag; a value at an earlier time than the
// tag's last is taken as at the last. No widgets.
//
// Bounded by design: the latest ExactPoints points of the run (all tags together) are kept exactly.
// Beyond that the oldest points are decimated, a span of DecimationSpan points of one tag at a time,
// to the first point holding its minimum and the last holding its maximum, so an envelope drawn
// from the record stays true; when the decimated points of all tags exceed DecimatedPoints, the
// largest tag's decimated intervals are merged in pairs. decimatedPoints() counts every point the
// record no longer holds. Points cost 16 bytes (a time and a value column) and a little more.
class RunRecord
{
public:
    struct Point
    {
        double time = 0;
        double value = 0;
    };
    // One column of a drawing: the smallest and the largest value within [from, to).
    struct Bucket
    {
        double from = 0;
        double to = 0;
        double min = 0;
        double max = 0;
    };
    struct Firing
    {
        int line = 0;
        double time = 0;
        bool wrote = false;
        double value = 0; // the value written, when wrote
    };

    // The latest points of a run kept exactly, all tags together (at least; each tag's newest
    // ChunkPoints points are never decimated).
    static constexpr std::size_t ExactPoints = std::size_t(1) << 20;
    static constexpr std::size_t ChunkPoints = 1024;
    static constexpr std::size_t DecimationSpan = 64;
    // The most points kept of decimated intervals, all tags together.
    static constexpr std::size_t DecimatedPoints = ExactPoints / 4;
    // The most tags a record names; values of others are ignored (and counted).
    static constexpr int MaxTags = 1024;
    // The most firings kept; later ones are counted only.
    static constexpr std::size_t MaxFirings = std::size_t(1) << 20;

    RunRecord() = default;
    // A record with other bounds (exactPoints at least ChunkPoints): for tests.
    RunRecord(std::size_t exactPoints, std::size_t decimatedPoints);

    // The index of tag (as written in the program, without braces), added when new; -1 when the
    // record already names MaxTags others.
    int tagIndex(const QString& tag);
    QStringList tags() const { return m_names; }

    // A value that is not finite, or of a tag the record does not name, is ignored (and counted).
    void add(int tag, double time, double value);
    void addFiring(const Firing& firing);
    // A value written by a firing recorded before: the last firing of that line.
    void setWritten(int line, double value);

    // The tag a listing line writes (set, ramp, send SetVariable), read from the listing; -1 when it
    // writes none.
    void setWrittenTag(int line, int tag);
    int writtenTag(int line) const;

    // In blocks: a growing run never copies what it holds (a vector of a flood's firings would, in
    // one event-loop pass).
    const std::deque<Firing>& firings() const { return m_firings; }
    // The points held: exact ones and those that stand for decimated intervals.
    std::size_t pointCount() const;
    std::size_t pointCount(int tag) const;
    // Earliest and latest time of any point or firing; both 0 while the record is empty.
    double firstTime() const;
    double lastTime() const;

    // The points of tag with from <= time <= to, in time order.
    std::vector<Point> points(int tag, double from, double to) const;
    // [from, to) cut into columns equal intervals; only intervals holding a point are returned.
    std::vector<Bucket> envelope(int tag, double from, double to, int columns) const;

    // Points added and no longer held, of the whole record or of tag: each decimated interval keeps
    // its minimum and maximum and counts the rest here.
    std::size_t decimatedPoints() const { return m_decimated; }
    std::size_t decimatedPoints(int tag) const;
    // The time of tag's last point that stands for a decimated interval; none while tag's points are
    // all exact.
    std::optional<double> decimatedThrough(int tag) const;
    // Values refused (not finite, tag not named) and firings beyond MaxFirings.
    std::size_t ignoredPoints() const { return m_ignored; }
    std::size_t droppedFirings() const { return m_droppedFirings; }
    // Heap bytes the points take (columns, extremes, bookkeeping), the names and firings left out.
    std::size_t pointBytes() const;

    // The points as CSV (RFC 4180, UTF-8, CR LF): a header "time", each tag, "decimated"; one row
    // per time, in time order, with each tag's value at that time (empty where it has none; a tag
    // with several values at one time makes as many rows); "decimated" is 1 on a row holding a
    // value that stands for a decimated interval, else empty.
    QByteArray valuesCsv() const;
    // The firings as CSV: a header "line", "time", "written"; one row per firing in the order they
    // came, "written" empty when the firing wrote nothing.
    QByteArray firingsCsv() const;

private:
    // Points in chunks of ChunkPoints, times and values in columns of their own, with each chunk's
    // least and greatest value per Block points, so an envelope reads few values per column.
    class Series
    {
    public:
        static constexpr std::size_t Block = 64;
        std::size_t size() const { return m_size; }
        std::size_t chunks() const { return m_chunks.size(); }
        double time(std::size_t i) const { return m_chunks[i / ChunkPoints].time[i % ChunkPoints]; }
        double value(std::size_t i) const { return m_chunks[i / ChunkPoints].value[i % ChunkPoints]; }
        void append(double time, double value);
        // Drops the first chunk, which must be full.
        void dropFirstChunk();
        // The first index whose time is >= time (> time when after), within [from, size()).
        std::size_t bound(double time, bool after, std::size_t from = 0) const;
        // The least and greatest value of the points [from, to), to > from.
        void extremes(std::size_t from, std::size_t to, double& min, double& max) const;
        std::size_t bytes() const;

    private:
        struct Chunk
        {
            std::vector<double> time;
            std::vector<double> value;
            std::vector<double> blockMin;
            std::vector<double> blockMax;
        };
        std::deque<Chunk> m_chunks;
        std::size_t m_size = 0;
    };
    struct Tag
    {
        Series decimated; // pairs of points: the extremes of each decimated interval, in time order
        Series exact;
        std::size_t decimatedCount = 0;
    };

    bool validTag(int tag) const { return tag >= 0 && std::size_t(tag) < m_tags.size(); }
    void decimateOldest();
    void halveDecimated(Tag& tag);
    void bucketsOf(const Series& s, double from, double to, int columns, std::vector<Bucket>& buckets,
                   std::vector<char>& used) const;

    QStringList m_names;
    QHash<QString, int> m_index;
    std::vector<Tag> m_tags;
    std::deque<Firing> m_firings;
    std::unordered_map<int, std::size_t> m_lastFiring;
    std::unordered_map<int, int> m_writtenTags;
    std::size_t m_exactLimit = ExactPoints;
    std::size_t m_decimatedLimit = DecimatedPoints;
    std::size_t m_exactTotal = 0;
    std::size_t m_decimatedTotal = 0; // points held for decimated intervals
    std::size_t m_decimated = 0;
    std::size_t m_ignored = 0;
    std::size_t m_droppedFirings = 0;
};
