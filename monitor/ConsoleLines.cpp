#include "monitor/ConsoleLines.h"

#include <algorithm>
#include <iterator>
#include <vector>

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
    if (m_widestKnown)
        countWidth(columns);
    if (int(m_lines.size()) <= m_maxLines)
        return;
    if (m_widestKnown && m_lines.front().columns == m_widest && --m_widestCount == 0)
        m_widestKnown = false;
    m_lines.pop_front();
    ++m_dropped;
}

void ConsoleLines::countWidth(int columns) const
{
    if (columns > m_widest) {
        m_widest = columns;
        m_widestCount = 1;
    } else if (columns == m_widest) {
        ++m_widestCount;
    }
}

int ConsoleLines::widestColumns() const
{
    if (!m_widestKnown) {
        m_widest = 0;
        m_widestCount = 0;
        for (const Line& l : m_lines)
            countWidth(l.columns);
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

ConsoleLines::Match ConsoleLines::find(const QString& what, qint64 line, int index, bool backward,
                                       Qt::CaseSensitivity cs) const
{
    if (what.isEmpty() || m_lines.empty())
        return {};
    if (line < firstNumber()) {
        line = firstNumber();
        index = 0;
    } else if (line >= endNumber()) {
        line = endNumber() - 1;
        index = int(this->line(line).size());
    }
    const qint64 count = size();
    // One more than the lines: the start line is searched once on each side of the place.
    for (qint64 step = 0; step <= count; ++step) {
        const qint64 offset = line - firstNumber() + (backward ? -step : step);
        const qint64 n = firstNumber() + ((offset % count) + count) % count;
        const QString& text = this->line(n);
        const bool first = step == 0;
        const bool last = step == count;
        qsizetype at = -1;
        if (!backward) {
            at = text.indexOf(what, first ? index : 0, cs);
            if (last && at >= index)
                at = -1;
        } else if (!first || index > 0) {
            // lastIndexOf takes -1 as the end of the line.
            at = text.lastIndexOf(what, first ? std::min<qsizetype>(index - 1, text.size()) : -1, cs);
            if (last && at >= 0 && at < index)
                at = -1;
        }
        if (at >= 0)
            return {n, int(at)};
    }
    return {};
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

// East Asian wide and fullwidth characters, and the emoji shown as such by default.
bool isWide(char32_t cp)
{
    static constexpr std::pair<char32_t, char32_t> ranges[] = {
        {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
        {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
        {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
        {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
        {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
        {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
        {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
        {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
        {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
        {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4}, {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF},
        {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F1E6, 0x1F1FF},
        {0x1F200, 0x1F2FF}, {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F900, 0x1F9FF},
        {0x1FA70, 0x1FAFF}, {0x20000, 0x3FFFD},
    };
    if (cp < ranges[0].first)
        return false;
    const auto* it = std::upper_bound(std::begin(ranges), std::end(ranges), cp,
                                      [](char32_t c, const std::pair<char32_t, char32_t>& r) { return c < r.first; });
    return cp <= (it - 1)->second;
}

bool isRegionalIndicator(char32_t cp)
{
    return cp >= 0x1F1E6 && cp <= 0x1F1FF;
}
} // namespace

bool isPlainCharacter(QChar c)
{
    // Characters every fixed-pitch font has, each one cell wide.
    const char16_t u = c.unicode();
    return (u >= 0x20 && u < 0x7f) || (u >= 0xa0 && u < 0x180 && u != 0xad);
}

bool isPlain(const QString& line)
{
    return std::all_of(line.begin(), line.end(), [](QChar c) { return isPlainCharacter(c); });
}

int clusterEnd(const QString& line, int index)
{
    if (index >= line.size())
        return int(line.size());
    // The usual case: a plain character not followed by a mark.
    if (isPlainCharacter(line.at(index)) && (index + 1 == line.size() || isPlainCharacter(line.at(index + 1))))
        return index + 1;
    int length = 1;
    const char32_t first = codePointAt(line, index, &length);
    int end = index + length;
    if (first < 0x20 || first == 0x7f)
        return end;
    // Two regional indicators make one flag.
    if (isRegionalIndicator(first) && end < line.size() && isRegionalIndicator(codePointAt(line, end, &length)))
        end += length;
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
    if (isPlainCharacter(line.at(index)))
        return 1;
    if (line.at(index) == QLatin1Char('\t'))
        return tabColumns - column % tabColumns;
    int length = 1;
    if (isWide(codePointAt(line, index, &length)))
        return 2;
    // A character followed by the emoji presentation selector is shown as an emoji.
    return QStringView(line).mid(index, end - index).contains(QChar(0xFE0F)) ? 2 : 1;
}

int clusterStart(const QString& line, int index)
{
    int start = 0;
    for (int i = 0; i < line.size() && i <= index; i = clusterEnd(line, i))
        start = i;
    return std::min(start, int(line.size()));
}

int clusterAt(const QString& line, double column)
{
    int at = 0;
    for (int i = 0; i < line.size();) {
        const int end = clusterEnd(line, i);
        at += clusterColumns(line, i, end, at);
        if (column < at)
            return i;
        i = end;
    }
    return int(line.size());
}

std::pair<int, int> wordAt(const QString& line, int index)
{
    if (index >= line.size())
        return {int(line.size()), int(line.size())};
    auto isWord = [&](int i) {
        int length = 1;
        const char32_t cp = codePointAt(line, i, &length);
        return cp == U'_' || QChar::isLetterOrNumber(cp) || QChar::isMark(cp);
    };
    const int hit = clusterStart(line, index);
    if (!isWord(hit))
        return {hit, clusterEnd(line, hit)};
    std::vector<int> before;
    for (int i = 0; i < hit; i = clusterEnd(line, i))
        before.push_back(i);
    int start = hit;
    for (auto it = before.rbegin(); it != before.rend() && isWord(*it); ++it)
        start = *it;
    int end = clusterEnd(line, hit);
    while (end < line.size() && isWord(end))
        end = clusterEnd(line, end);
    return {start, end};
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
