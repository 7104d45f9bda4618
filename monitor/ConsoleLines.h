#pragma once

#include <QString>

#include <deque>
#include <utility>

// The lines of a monitor's console, oldest first, of which it keeps the last maxLines. Lines carry
// numbers that never change: the first line ever appended is 0, so a position held by a view stays
// on its line while older lines are dropped.
class ConsoleLines
{
public:
    explicit ConsoleLines(int maxLines);

    // Appends text as one line; each line break inside starts another. Drops the oldest lines past
    // the cap.
    void append(const QString& text);

    int size() const { return int(m_lines.size()); }
    bool isEmpty() const { return m_lines.empty(); }
    int maxLines() const { return m_maxLines; }
    // Number of the oldest line kept (how many have been dropped), and one past the newest.
    qint64 firstNumber() const { return m_dropped; }
    qint64 endNumber() const { return m_dropped + qint64(m_lines.size()); }
    // The line with that number, which must be kept.
    const QString& line(qint64 number) const { return m_lines[std::size_t(number - m_dropped)].text; }
    // Display columns of the widest line kept.
    int widestColumns() const;

    // The kept lines, joined by line feeds.
    QString toPlainText() const;
    // The text from column fromColumn of line fromLine to column toColumn of line toLine, lines
    // joined by line feeds. Lines no longer kept and columns past a line's end are left out.
    QString text(qint64 fromLine, int fromColumn, qint64 toLine, int toColumn) const;

    // Where a search found its text: the line's number and the index of the first character; line
    // is -1 when nothing was found.
    struct Match
    {
        qint64 line = -1;
        int index = 0;
    };
    // The first occurrence of what, within one line, that starts at or after index of line (forward)
    // or before it (backward), going on through the other lines and round to the place itself. A
    // place in a dropped line counts as the start of the first kept line.
    Match find(const QString& what, qint64 line, int index, bool backward, Qt::CaseSensitivity cs) const;

private:
    struct Line
    {
        QString text;
        int columns;
    };
    void push(QString text);
    void countWidth(int columns) const;

    std::deque<Line> m_lines;
    int m_maxLines;
    qint64 m_dropped = 0;
    // The widest kept line's columns and how many lines have them; refound when the last such
    // line is dropped.
    mutable int m_widest = 0;
    mutable int m_widestCount = 0;
    mutable bool m_widestKnown = true;
};

// How a console line is drawn, in cells of the fixed-pitch font. A character with the marks that
// go with it (a pair of surrogates, accents, joined emoji) takes one cell, two if it is wide (East
// Asian scripts, emoji); a tab runs to the next multiple of eight cells; C0 control characters and
// DEL show as their control pictures. Each character is drawn in its own cell, left to right, so
// that a selection, a click and the text drawn always agree.
namespace ConsoleDisplay {
inline constexpr int tabColumns = 8;
// Whether a character is one cell drawn as it is in every fixed-pitch font, so that a run of them can
// be drawn at once; whether each character of line is.
bool isPlainCharacter(QChar c);
bool isPlain(const QString& line);
// One past the last character of the cluster that starts at index.
int clusterEnd(const QString& line, int index);
// Cells of the cluster from index to end when it starts at cell column.
int clusterColumns(const QString& line, int index, int end, int column);
// Start of the cluster that holds character index.
int clusterStart(const QString& line, int index);
// Start of the cluster drawn in the cell under a column, or the line's length past its end.
int clusterAt(const QString& line, double column);
// Start and end of the word (letters, digits, underscores and their marks) that holds the cluster at
// index, or of that cluster alone when it is none.
std::pair<int, int> wordAt(const QString& line, int index);
// What is drawn for the cluster from index to end.
QString shown(const QString& line, int index, int end);
int columns(const QString& line);
// Cell at which the cluster holding character index starts (the line's width past its end).
int columnOf(const QString& line, int index);
// Index of the cluster boundary nearest to a cell column, counted in fractions of a cell.
int indexAt(const QString& line, double column);
} // namespace ConsoleDisplay
