// The record as CSV text (RFC 4180): what File > Export Run Data writes.
#include "monitor/RunRecord.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <queue>
#include <utility>

namespace {

// The shortest text that reads back as the same double.
void appendNumber(QByteArray& out, double value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    out.append(text, int(result.ptr - text));
}

// A field quoted when it holds a comma, a quote or a line break, its quotes doubled.
void appendField(QByteArray& out, const QString& field)
{
    const QByteArray text = field.toUtf8();
    if (!text.contains(',') && !text.contains('"') && !text.contains('\r') && !text.contains('\n')) {
        out.append(text);
        return;
    }
    out.append('"');
    for (const char c : text) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
}

} // namespace

QByteArray RunRecord::valuesCsv() const
{
    QByteArray out;
    out.reserve(int(std::min<std::size_t>(pointCount() * 24 + 256, 1u << 30)));
    out.append("time");
    for (const QString& name : m_names) {
        out.append(',');
        appendField(out, name);
    }
    out.append(",decimated\r\n");

    // Per tag, the next point to write: its index in the decimated points, then in the exact ones.
    const std::size_t tagCount = m_tags.size();
    std::vector<std::size_t> next(tagCount, 0);
    auto timeOf = [this, &next](std::size_t tag) {
        const Tag& t = m_tags[tag];
        const std::size_t i = next[tag];
        return i < t.decimated.size() ? t.decimated.time(i) : t.exact.time(i - t.decimated.size());
    };
    using Entry = std::pair<double, std::size_t>; // the next time of a tag, and the tag
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    for (std::size_t tag = 0; tag < tagCount; ++tag) {
        if (pointCount(int(tag)) > 0)
            queue.push({timeOf(tag), tag});
    }
    std::vector<std::size_t> row; // the tags with a value in the row, in rising order
    while (!queue.empty()) {
        const double time = queue.top().first;
        row.clear();
        while (!queue.empty() && queue.top().first == time) {
            row.push_back(queue.top().second);
            queue.pop();
        }
        std::sort(row.begin(), row.end());
        appendNumber(out, time);
        bool decimated = false;
        std::size_t written = 0;
        for (const std::size_t tag : row) {
            for (; written <= tag; ++written)
                out.append(',');
            const Tag& t = m_tags[tag];
            const std::size_t i = next[tag];
            if (i < t.decimated.size()) {
                appendNumber(out, t.decimated.value(i));
                decimated = true;
            } else {
                appendNumber(out, t.exact.value(i - t.decimated.size()));
            }
        }
        for (; written < tagCount; ++written)
            out.append(',');
        out.append(decimated ? ",1\r\n" : ",\r\n");
        for (const std::size_t tag : row) {
            if (++next[tag] < pointCount(int(tag)))
                queue.push({timeOf(tag), tag});
        }
    }
    return out;
}

QByteArray RunRecord::firingsCsv() const
{
    QByteArray out;
    out.reserve(int(std::min<std::size_t>(m_firings.size() * 32 + 32, 1u << 30)));
    out.append("line,time,written\r\n");
    for (const Firing& f : m_firings) {
        out.append(QByteArray::number(f.line));
        out.append(',');
        appendNumber(out, f.time);
        out.append(',');
        if (f.wrote)
            appendNumber(out, f.value);
        out.append("\r\n");
    }
    return out;
}
