#include "monitor/ConsoleLines.h"

#include <algorithm>

ConsoleLines::ConsoleLines(int maxLines) : m_maxLines(std::max(1, maxLines)) {}

void ConsoleLines::append(const QString& text)
{
    qsizetype from = 0;
    for (qsizetype at; (at = text.indexOf(QLatin1Char('\n'), from)) >= 0; from = at + 1)
        push(text.mid(from, at - from));
    // A text without a break is kept as it is, without a copy.
    push(from == 0 ? text : text.mid(from));
}

void ConsoleLines::push(QString text)
{
    const int columns = ConsoleDisplay::columns(text);
    m_lines.push_back({std::move(text), columns});
    if (m_widestKnown) {
        if (columns > m_widest) {
            m_widest = columns;
            m_widestCount = 1;
        } else if (columns == m_widest) {
            ++m_widestCount;
        }
    }
    if (int(m_lines.size()) <= m_maxLines)
        return;
    if (m_widestKnown && m_lines.front().columns == m_widest && --m_widestCount == 0)
        m_widestKnown = false;
    m_lines.pop_front();
    ++m_dropped;
}

int ConsoleLines::widestColumns() const
{
    if (!m_widestKnown) {
        m_widest = 0;
        m_widestCount = 0;
        for (const Line& l : m_lines) {
            if (l.columns > m_widest) {
                m_widest = l.columns;
                m_widestCount = 1;
            } else if (l.columns == m_widest) {
                ++m_widestCount;
            }
        }
        m_widestKnown = true;
    }
    return m_widest;
}

QString ConsoleLines::toPlainText() const
{
    if (m_lines.empty())
        return QString();
    return text(firstNumber(), 0, endNumber() - 1, line(endNumber() - 1).size());
}

QString ConsoleLines::text(qint64 fromLine, int fromColumn, qint64 toLine, int toColumn) const
{
    if (fromLine < m_dropped) {
        fromLine = m_dropped;
        fromColumn = 0;
    }
    toLine = std::min(toLine, endNumber() - 1);
    if (fromLine > toLine)
        return QString();
    qsizetype length = 0;
    for (qint64 n = fromLine; n <= toLine; ++n)
        length += line(n).size() + 1;
    QString result;
    result.reserve(length);
    for (qint64 n = fromLine; n <= toLine; ++n) {
        const QString& l = line(n);
        const qsizetype from = n == fromLine ? std::clamp<qsizetype>(fromColumn, 0, l.size()) : 0;
        const qsizetype to = n == toLine ? std::clamp<qsizetype>(toColumn, from, l.size()) : l.size();
        if (n > fromLine)
            result += QLatin1Char('\n');
        result += QStringView(l).mid(from, to - from);
    }
    return result;
}

namespace ConsoleDisplay {
namespace {
int nextColumn(QChar c, int column)
{
    return c == QLatin1Char('\t') ? (column / tabColumns + 1) * tabColumns : column + 1;
}
} // namespace

QString text(const QString& line)
{
    bool plain = true;
    for (QChar c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            plain = false;
            break;
        }
    }
    if (plain)
        return line;
    QString shown;
    shown.reserve(line.size() + tabColumns);
    for (QChar c : line) {
        if (c == QLatin1Char('\t'))
            shown += QString(tabColumns - shown.size() % tabColumns, QLatin1Char(' '));
        else if (c.unicode() < 0x20)
            shown += QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7f)
            shown += QChar(0x2421);
        else
            shown += c;
    }
    return shown;
}

int columns(const QString& line)
{
    return columnOf(line, int(line.size()));
}

int columnOf(const QString& line, int index)
{
    index = std::clamp(index, 0, int(line.size()));
    int column = 0;
    for (int i = 0; i < index; ++i)
        column = nextColumn(line.at(i), column);
    return column;
}

int indexAt(const QString& line, double column)
{
    int at = 0;
    for (int i = 0; i < line.size(); ++i) {
        const int next = nextColumn(line.at(i), at);
        if (column < next)
            return column - at < (next - at) / 2.0 ? i : i + 1;
        at = next;
    }
    return int(line.size());
}
} // namespace ConsoleDisplay
