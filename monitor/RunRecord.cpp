#include "monitor/RunRecord.h"

#include <algorithm>
#include <limits>

int RunRecord::tagIndex(const QString& tag)
{
    const auto at = m_names.indexOf(tag);
    if (at >= 0)
        return int(at);
    m_names.push_back(tag);
    m_points.emplace_back();
    return int(m_names.size()) - 1;
}

void RunRecord::add(int tag, double time, double value)
{
    if (tag < 0 || std::size_t(tag) >= m_points.size())
        return;
    std::vector<Point>& points = m_points[std::size_t(tag)];
    if (!points.empty())
        time = std::max(time, points.back().time);
    points.push_back({time, value});
}

void RunRecord::addFiring(const Firing& firing)
{
    m_firings.push_back(firing);
}

void RunRecord::setWritten(int line, double value)
{
    for (auto it = m_firings.rbegin(); it != m_firings.rend(); ++it) {
        if (it->line == line) {
            it->wrote = true;
            it->value = value;
            return;
        }
    }
}

std::size_t RunRecord::pointCount() const
{
    std::size_t n = 0;
    for (const auto& points : m_points)
        n += points.size();
    return n;
}

std::size_t RunRecord::pointCount(int tag) const
{
    return tag >= 0 && std::size_t(tag) < m_points.size() ? m_points[std::size_t(tag)].size() : 0;
}

double RunRecord::firstTime() const
{
    double first = std::numeric_limits<double>::infinity();
    for (const auto& points : m_points)
        if (!points.empty())
            first = std::min(first, points.front().time);
    for (const Firing& f : m_firings)
        first = std::min(first, f.time);
    return first == std::numeric_limits<double>::infinity() ? 0 : first;
}

double RunRecord::lastTime() const
{
    double last = -std::numeric_limits<double>::infinity();
    for (const auto& points : m_points)
        if (!points.empty())
            last = std::max(last, points.back().time);
    for (const Firing& f : m_firings)
        last = std::max(last, f.time);
    return last == -std::numeric_limits<double>::infinity() ? 0 : last;
}

std::vector<RunRecord::Point> RunRecord::points(int tag, double from, double to) const
{
    if (tag < 0 || std::size_t(tag) >= m_points.size() || to < from)
        return {};
    const std::vector<Point>& points = m_points[std::size_t(tag)];
    const auto begin =
        std::lower_bound(points.begin(), points.end(), from, [](const Point& p, double t) { return p.time < t; });
    const auto end = std::upper_bound(begin, points.end(), to, [](double t, const Point& p) { return t < p.time; });
    return std::vector<Point>(begin, end);
}

std::vector<RunRecord::Bucket> RunRecord::envelope(int tag, double from, double to, int columns) const
{
    std::vector<Bucket> buckets;
    if (tag < 0 || std::size_t(tag) >= m_points.size() || columns <= 0 || !(to > from))
        return buckets;
    const std::vector<Point>& points = m_points[std::size_t(tag)];
    const double width = (to - from) / columns;
    auto it = std::lower_bound(points.begin(), points.end(), from, [](const Point& p, double t) { return p.time < t; });
    for (int c = 0; c < columns && it != points.end() && it->time < to; ++c) {
        const double start = from + c * width;
        const double end = c + 1 == columns ? to : from + (c + 1) * width;
        if (it->time >= end)
            continue;
        Bucket b{start, end, it->value, it->value};
        for (; it != points.end() && it->time < end; ++it) {
            b.min = std::min(b.min, it->value);
            b.max = std::max(b.max, it->value);
        }
        buckets.push_back(b);
    }
    return buckets;
}
