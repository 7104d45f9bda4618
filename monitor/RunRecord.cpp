#include "monitor/RunRecord.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// The first point holding the minimum and the last holding the maximum of the n points, in time
// order: two distinct points whenever n >= 2.
void keepExtremes(const RunRecord::Point* points, std::size_t n, std::vector<RunRecord::Point>& out)
{
    std::size_t lo = 0;
    std::size_t hi = 0;
    for (std::size_t i = 1; i < n; ++i) {
        if (points[i].value < points[lo].value)
            lo = i;
        if (points[i].value >= points[hi].value)
            hi = i;
    }
    if (n == 1) {
        out.push_back(points[0]);
        return;
    }
    out.push_back(points[std::min(lo, hi)]);
    out.push_back(points[std::max(lo, hi)]);
}

} // namespace

void RunRecord::Series::append(double time, double value)
{
    if (m_chunks.empty() || m_chunks.back().time.size() == ChunkPoints)
        m_chunks.emplace_back();
    Chunk& c = m_chunks.back();
    // Capacities double up to ChunkPoints and ChunkPoints / Block, so a full chunk wastes nothing.
    if (c.time.size() % Block == 0) {
        c.blockMin.push_back(value);
        c.blockMax.push_back(value);
    } else {
        c.blockMin.back() = std::min(c.blockMin.back(), value);
        c.blockMax.back() = std::max(c.blockMax.back(), value);
    }
    c.time.push_back(time);
    c.value.push_back(value);
    ++m_size;
}

void RunRecord::Series::dropFirstChunk()
{
    m_size -= m_chunks.front().time.size();
    m_chunks.pop_front();
}

std::size_t RunRecord::Series::bound(double t, bool after, std::size_t from) const
{
    std::size_t lo = from;
    std::size_t hi = m_size;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        const double m = time(mid);
        if (m < t || (after && m == t))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void RunRecord::Series::extremes(std::size_t from, std::size_t to, double& min, double& max) const
{
    while (from < to) {
        const Chunk& c = m_chunks[from / ChunkPoints];
        const std::size_t base = from - from % ChunkPoints;
        const std::size_t end = std::min(to, base + c.time.size());
        std::size_t i = from - base;
        const std::size_t last = end - base;
        for (; i < last && i % Block != 0; ++i) {
            min = std::min(min, c.value[i]);
            max = std::max(max, c.value[i]);
        }
        for (; i + Block <= last; i += Block) {
            min = std::min(min, c.blockMin[i / Block]);
            max = std::max(max, c.blockMax[i / Block]);
        }
        for (; i < last; ++i) {
            min = std::min(min, c.value[i]);
            max = std::max(max, c.value[i]);
        }
        from = end;
    }
}

std::size_t RunRecord::Series::bytes() const
{
    std::size_t n = sizeof(Series);
    for (const Chunk& c : m_chunks)
        n += sizeof(Chunk) +
             sizeof(double) * (c.time.capacity() + c.value.capacity() + c.blockMin.capacity() + c.blockMax.capacity());
    return n;
}

RunRecord::RunRecord(std::size_t exactPoints, std::size_t decimatedPoints)
    : m_exactLimit(std::max(exactPoints, ChunkPoints)), m_decimatedLimit(decimatedPoints)
{
}

int RunRecord::tagIndex(const QString& tag)
{
    const auto it = m_index.constFind(tag);
    if (it != m_index.constEnd())
        return it.value();
    if (m_names.size() >= MaxTags)
        return -1;
    const int index = int(m_names.size());
    m_names.push_back(tag);
    m_index.insert(tag, index);
    m_tags.emplace_back();
    return index;
}

void RunRecord::add(int tag, double time, double value)
{
    if (!validTag(tag) || !std::isfinite(time) || !std::isfinite(value)) {
        ++m_ignored;
        return;
    }
    Tag& t = m_tags[std::size_t(tag)];
    if (t.exact.size() > 0)
        time = std::max(time, t.exact.time(t.exact.size() - 1));
    else if (t.decimated.size() > 0)
        time = std::max(time, t.decimated.time(t.decimated.size() - 1));
    t.exact.append(time, value);
    // Decimating a whole chunk leaves at least ExactPoints.
    if (++m_exactTotal >= m_exactLimit + ChunkPoints)
        decimateOldest();
}

void RunRecord::decimateOldest()
{
    // The tag whose oldest full chunk of exact points is the oldest of all.
    Tag* oldest = nullptr;
    for (Tag& t : m_tags) {
        if (t.exact.chunks() >= 2 && (!oldest || t.exact.time(0) < oldest->exact.time(0)))
            oldest = &t;
    }
    // Without one, every tag holds less than two chunks: bounded by MaxTags.
    if (!oldest)
        return;
    std::vector<Point> span(DecimationSpan);
    std::vector<Point> kept;
    for (std::size_t i = 0; i < ChunkPoints; i += DecimationSpan) {
        for (std::size_t j = 0; j < DecimationSpan; ++j)
            span[j] = {oldest->exact.time(i + j), oldest->exact.value(i + j)};
        kept.clear();
        keepExtremes(span.data(), DecimationSpan, kept);
        for (const Point& p : kept)
            oldest->decimated.append(p.time, p.value);
        m_decimatedTotal += kept.size();
        oldest->decimatedCount += DecimationSpan - kept.size();
        m_decimated += DecimationSpan - kept.size();
    }
    oldest->exact.dropFirstChunk();
    m_exactTotal -= ChunkPoints;
    while (m_decimatedTotal > m_decimatedLimit) {
        Tag* largest = &*std::max_element(m_tags.begin(), m_tags.end(), [](const Tag& a, const Tag& b) {
            return a.decimated.size() < b.decimated.size();
        });
        if (largest->decimated.size() < 4)
            break;
        halveDecimated(*largest);
    }
}

void RunRecord::halveDecimated(Tag& tag)
{
    // Two neighbouring intervals (four points) become one (its extremes); an odd last one stays.
    Series merged;
    const Series& s = tag.decimated;
    std::vector<Point> quad;
    std::vector<Point> kept;
    std::size_t i = 0;
    for (; i + 4 <= s.size(); i += 4) {
        quad.clear();
        for (std::size_t j = 0; j < 4; ++j)
            quad.push_back({s.time(i + j), s.value(i + j)});
        kept.clear();
        keepExtremes(quad.data(), 4, kept);
        for (const Point& p : kept)
            merged.append(p.time, p.value);
    }
    for (; i < s.size(); ++i)
        merged.append(s.time(i), s.value(i));
    const std::size_t removed = s.size() - merged.size();
    tag.decimatedCount += removed;
    m_decimated += removed;
    m_decimatedTotal -= removed;
    tag.decimated = std::move(merged);
}

void RunRecord::setWrittenTag(int line, int tag)
{
    if (validTag(tag))
        m_writtenTags[line] = tag;
    else
        m_writtenTags.erase(line);
}

int RunRecord::writtenTag(int line) const
{
    const auto it = m_writtenTags.find(line);
    return it == m_writtenTags.end() ? -1 : it->second;
}

void RunRecord::addFiring(const Firing& firing)
{
    if (m_firings.size() >= MaxFirings) {
        ++m_droppedFirings;
        return;
    }
    m_lastFiring[firing.line] = m_firings.size();
    m_firings.push_back(firing);
}

void RunRecord::setWritten(int line, double value)
{
    const auto it = m_lastFiring.find(line);
    if (it == m_lastFiring.end())
        return;
    Firing& f = m_firings[it->second];
    f.wrote = true;
    f.value = value;
}

std::size_t RunRecord::pointCount() const
{
    return m_exactTotal + m_decimatedTotal;
}

std::size_t RunRecord::pointCount(int tag) const
{
    return validTag(tag) ? m_tags[std::size_t(tag)].exact.size() + m_tags[std::size_t(tag)].decimated.size() : 0;
}

std::size_t RunRecord::decimatedPoints(int tag) const
{
    return validTag(tag) ? m_tags[std::size_t(tag)].decimatedCount : 0;
}

std::optional<double> RunRecord::decimatedThrough(int tag) const
{
    if (!validTag(tag) || m_tags[std::size_t(tag)].decimated.size() == 0)
        return std::nullopt;
    const Series& s = m_tags[std::size_t(tag)].decimated;
    return s.time(s.size() - 1);
}

std::size_t RunRecord::pointBytes() const
{
    std::size_t n = m_tags.capacity() * sizeof(Tag);
    for (const Tag& t : m_tags)
        n += t.exact.bytes() + t.decimated.bytes() - 2 * sizeof(Series);
    return n;
}

double RunRecord::firstTime() const
{
    double first = infinity;
    for (const Tag& t : m_tags) {
        const Series& s = t.decimated.size() > 0 ? t.decimated : t.exact;
        if (s.size() > 0)
            first = std::min(first, s.time(0));
    }
    for (const Firing& f : m_firings)
        first = std::min(first, f.time);
    return first == infinity ? 0 : first;
}

double RunRecord::lastTime() const
{
    double last = -infinity;
    for (const Tag& t : m_tags) {
        const Series& s = t.exact.size() > 0 ? t.exact : t.decimated;
        if (s.size() > 0)
            last = std::max(last, s.time(s.size() - 1));
    }
    for (const Firing& f : m_firings)
        last = std::max(last, f.time);
    return last == -infinity ? 0 : last;
}

std::vector<RunRecord::Point> RunRecord::points(int tag, double from, double to) const
{
    std::vector<Point> out;
    if (!validTag(tag) || !(to >= from))
        return out;
    const Tag& t = m_tags[std::size_t(tag)];
    for (const Series* s : {&t.decimated, &t.exact}) {
        const std::size_t end = s->bound(to, true);
        for (std::size_t i = s->bound(from, false); i < end; ++i)
            out.push_back({s->time(i), s->value(i)});
    }
    return out;
}

void RunRecord::bucketsOf(const Series& s, double from, double to, int columns, std::vector<Bucket>& buckets,
                          std::vector<char>& used) const
{
    const double width = (to - from) / columns;
    std::size_t i = s.bound(from, false);
    for (int c = 0; c < columns && i < s.size() && s.time(i) < to; ++c) {
        const double end = c + 1 == columns ? to : from + (c + 1) * width;
        if (s.time(i) >= end)
            continue;
        const std::size_t next = s.bound(end, false, i);
        Bucket& b = buckets[std::size_t(c)];
        if (!used[std::size_t(c)]) {
            b.min = s.value(i);
            b.max = s.value(i);
            used[std::size_t(c)] = 1;
        }
        s.extremes(i, next, b.min, b.max);
        i = next;
    }
}

std::vector<RunRecord::Bucket> RunRecord::envelope(int tag, double from, double to, int columns) const
{
    std::vector<Bucket> out;
    if (!validTag(tag) || columns <= 0 || !(to > from))
        return out;
    const Tag& t = m_tags[std::size_t(tag)];
    const double width = (to - from) / columns;
    std::vector<Bucket> buckets(static_cast<std::size_t>(columns));
    std::vector<char> used(std::size_t(columns), 0);
    bucketsOf(t.decimated, from, to, columns, buckets, used);
    bucketsOf(t.exact, from, to, columns, buckets, used);
    for (int c = 0; c < columns; ++c) {
        if (!used[std::size_t(c)])
            continue;
        Bucket b = buckets[std::size_t(c)];
        b.from = from + c * width;
        b.to = c + 1 == columns ? to : from + (c + 1) * width;
        out.push_back(b);
    }
    return out;
}
