#pragma once

#include <QString>

#include <deque>

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

private:
    struct Line
    {
        QString text;
        int columns;
    };
    void push(QString text);

    std::deque<Line> m_lines;
    int m_maxLines;
    qint64 m_dropped = 0;
    // The widest kept line's columns and how many lines have them; refound when the last such
    // line is dropped.
    mutable int m_widest = 0;
    mutable int m_widestCount = 0;
    mutable bool m_widestKnown = true;
};

// How a console line is drawn: tabs move to the next multiple of eight columns, and other control
// characters show as their control pictures, so that no character of a client's text is invisible.
namespace ConsoleDisplay {
inline constexpr int tabColumns = 8;
QString text(const QString& line);
int columns(const QString& line);
// Display column at which character index of line starts.
int columnOf(const QString& line, int index);
// Index of the character boundary nearest to a display column, counted in fractions of a column.
int indexAt(const QString& line, double column);
} // namespace ConsoleDisplay
