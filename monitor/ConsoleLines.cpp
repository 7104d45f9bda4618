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
    // A text built by appending has room to grow, which would stay with the line as long as it is
    // kept.
    if (text.capacity() > text.size())
        text.squeeze();
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
char32_t codePointAt(const QString& line, int index, int* length)
{
    const QChar c = line.at(index);
    if (c.isHighSurrogate() && index + 1 < line.size() && line.at(index + 1).isLowSurrogate()) {
        *length = 2;
        return QChar::surrogateToUcs4(c, line.at(index + 1));
    }
    *length = 1;
    return c.unicode();
}

bool extendsCluster(char32_t cp)
{
    switch (QChar::category(cp)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return cp >= 0x1F3FB && cp <= 0x1F3FF; // skin tones
    }
}

bool isWide(char32_t cp)
{
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) || (cp >= 0x3041 && cp <= 0x33FF) ||
           (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xA000 && cp <= 0xA4CF) ||
           (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
           (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
           (cp >= 0x1F900 && cp <= 0x1F9FF) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

bool isPlainCharacter(char16_t c)
{
    return (c >= 0x20 && c < 0x7f) || (c >= 0xa0 && c < 0x300 && c != 0xad);
}
} // namespace

bool isPlain(const QString& line)
{
    return std::all_of(line.begin(), line.end(), [](QChar c) { return isPlainCharacter(c.unicode()); });
}

int clusterEnd(const QString& line, int index)
{
    if (index >= line.size())
        return int(line.size());
    // The usual case: a plain character not followed by a mark.
    if (isPlainCharacter(line.at(index).unicode()) &&
        (index + 1 == line.size() || isPlainCharacter(line.at(index + 1).unicode())))
        return index + 1;
    int length = 1;
    const char32_t first = codePointAt(line, index, &length);
    int end = index + length;
    if (first < 0x20 || first == 0x7f)
        return end;
    bool joined = false;
    while (end < line.size()) {
        const char32_t cp = codePointAt(line, end, &length);
        if (cp < 0x20 || cp == 0x7f)
            break;
        if (cp == 0x200D) { // zero-width joiner: the next character joins the cluster
            joined = true;
        } else if (!joined && !extendsCluster(cp)) {
            break;
        } else {
            joined = false;
        }
        end += length;
    }
    return end;
}

int clusterColumns(const QString& line, int index, int end, int column)
{
    if (index >= end)
        return 0;
    if (isPlainCharacter(line.at(index).unicode()))
        return 1;
    if (line.at(index) == QLatin1Char('\t'))
        return tabColumns - column % tabColumns;
    int length = 1;
    return isWide(codePointAt(line, index, &length)) ? 2 : 1;
}

QString shown(const QString& line, int index, int end)
{
    const char16_t c = line.at(index).unicode();
    if (c == u'\t')
        return QString();
    if (c < 0x20)
        return QString(QChar(0x2400 + c));
    if (c == 0x7f)
        return QString(QChar(0x2421));
    return line.mid(index, end - index);
}

int columns(const QString& line)
{
    return columnOf(line, int(line.size()));
}

int columnOf(const QString& line, int index)
{
    index = std::clamp(index, 0, int(line.size()));
    int column = 0;
    for (int i = 0; i < index;) {
        const int end = clusterEnd(line, i);
        if (end > index)
            break;
        column += clusterColumns(line, i, end, column);
        i = end;
    }
    return column;
}

int indexAt(const QString& line, double column)
{
    int at = 0;
    for (int i = 0; i < line.size();) {
        const int end = clusterEnd(line, i);
        const int next = at + clusterColumns(line, i, end, at);
        if (column < next)
            return column - at < (next - at) / 2.0 ? i : end;
        at = next;
        i = end;
    }
    return int(line.size());
}
} // namespace ConsoleDisplay
