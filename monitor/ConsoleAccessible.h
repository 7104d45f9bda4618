#pragma once

#include <QAccessibleWidget>

#include <vector>

class CMonitorConsole;

// What assistive technology reads of a monitor's console: a read-only multi-line text, its
// selection and the place of each character, as a plain text edit offers them.
class ConsoleAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit ConsoleAccessible(CMonitorConsole* console);

    // Makes every console answer with this interface; once per process.
    static void install();

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    CMonitorConsole* console() const;
    // Offsets in the whole text (lines joined by line feeds) of the kept lines' starts, made again
    // when lines have come or gone since.
    const std::vector<int>& lineOffsets() const;
    int offsetOf(qint64 line, int index) const;
    // The line and index of an offset, clamped to the text.
    std::pair<qint64, int> spotOf(int offset) const;

    mutable std::vector<int> m_offsets;
    mutable qint64 m_offsetsFirst = -1;
    mutable qint64 m_offsetsEnd = -1;
};
