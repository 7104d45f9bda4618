#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <vector>

// What a run did, kept for the run: every value a monitor learns of a tag, at the simulation time
// it learnt it, and every firing. Times rise within a tag; a value at an earlier time than the
// tag's last is taken as at the last. No widgets.
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

    // The index of tag (as written in the program, without braces), added when new.
    int tagIndex(const QString& tag);
    QStringList tags() const { return m_names; }

    void add(int tag, double time, double value);
    void addFiring(const Firing& firing);
    // A value written by a firing recorded before: the last firing of that line.
    void setWritten(int line, double value);

    const std::vector<Firing>& firings() const { return m_firings; }
    std::size_t pointCount() const;
    std::size_t pointCount(int tag) const;
    // Earliest and latest time of any point or firing; both 0 while the record is empty.
    double firstTime() const;
    double lastTime() const;

    // The points of tag with from <= time <= to, in time order.
    std::vector<Point> points(int tag, double from, double to) const;
    // [from, to) cut into columns equal intervals; only intervals holding a point are returned.
    std::vector<Bucket> envelope(int tag, double from, double to, int columns) const;

private:
    QStringList m_names;
    std::vector<std::vector<Point>> m_points;
    std::vector<Firing> m_firings;
};
