#include "monitor/ConsoleAccessible.h"

#include "monitor/CMonitorConsole.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/ConsoleLines.h"

#include <QScrollBar>

#include <algorithm>
#include <climits>

ConsoleAccessible::ConsoleAccessible(CMonitorConsole* console) : QAccessibleWidget(console, QAccessible::EditableText)
{
}

void ConsoleAccessible::install()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory([](const QString& key, QObject* object) -> QAccessibleInterface* {
        if (key == QLatin1String("CMonitorConsole"))
            return new ConsoleAccessible(static_cast<CMonitorConsole*>(object));
        return nullptr;
    });
}

CMonitorConsole* ConsoleAccessible::console() const
{
    return static_cast<CMonitorConsole*>(widget());
}

void* ConsoleAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State ConsoleAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

QString ConsoleAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return console()->lines().toPlainText();
    return QAccessibleWidget::text(t);
}

const std::vector<int>& ConsoleAccessible::lineOffsets() const
{
    const ConsoleLines& lines = console()->lines();
    if (m_offsetsFirst != lines.firstNumber() || m_offsetsEnd != lines.endNumber()) {
        m_offsets.clear();
        m_offsets.reserve(std::size_t(lines.size()));
        qint64 at = 0;
        for (qint64 n = lines.firstNumber(); n < lines.endNumber(); ++n) {
            m_offsets.push_back(int(std::min<qint64>(at, INT_MAX)));
            at += lines.line(n).size() + 1;
        }
        m_offsetsFirst = lines.firstNumber();
        m_offsetsEnd = lines.endNumber();
    }
    return m_offsets;
}

int ConsoleAccessible::offsetOf(qint64 line, int index) const
{
    const ConsoleLines& lines = console()->lines();
    if (lines.isEmpty() || line < lines.firstNumber())
        return 0;
    line = std::min(line, lines.endNumber() - 1);
    return lineOffsets()[std::size_t(line - lines.firstNumber())] + std::clamp(index, 0, int(lines.line(line).size()));
}

std::pair<qint64, int> ConsoleAccessible::spotOf(int offset) const
{
    const ConsoleLines& lines = console()->lines();
    if (lines.isEmpty())
        return {lines.firstNumber(), 0};
    const std::vector<int>& offsets = lineOffsets();
    const auto it = std::upper_bound(offsets.begin(), offsets.end(), std::max(0, offset));
    const qint64 line = lines.firstNumber() + (it - offsets.begin()) - 1;
    return {line, std::clamp(offset - *(it - 1), 0, int(lines.line(line).size()))};
}

int ConsoleAccessible::characterCount() const
{
    const ConsoleLines& lines = console()->lines();
    return lines.isEmpty() ? 0 : offsetOf(lines.endNumber() - 1, INT_MAX);
}

QString ConsoleAccessible::text(int startOffset, int endOffset) const
{
    const auto [fromLine, fromIndex] = spotOf(startOffset);
    const auto [toLine, toIndex] = spotOf(endOffset);
    return console()->lines().text(fromLine, fromIndex, toLine, toIndex);
}

void ConsoleAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    const CMonitorConsole* c = console();
    if (selectionIndex != 0 || !c->hasSelectedText())
        return;
    const auto from = std::min(c->m_anchor, c->m_caret);
    const auto to = std::max(c->m_anchor, c->m_caret);
    *startOffset = offsetOf(from.line, from.index);
    *endOffset = offsetOf(to.line, to.index);
}

int ConsoleAccessible::selectionCount() const
{
    return console()->hasSelectedText() ? 1 : 0;
}

void ConsoleAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void ConsoleAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        console()->setSelection(console()->m_caret, console()->m_caret);
}

void ConsoleAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex != 0)
        return;
    const auto [fromLine, fromIndex] = spotOf(startOffset);
    const auto [toLine, toIndex] = spotOf(endOffset);
    console()->setSelection({fromLine, fromIndex}, {toLine, toIndex});
}

int ConsoleAccessible::cursorPosition() const
{
    return offsetOf(console()->m_caret.line, console()->m_caret.index);
}

void ConsoleAccessible::setCursorPosition(int position)
{
    const auto [line, index] = spotOf(position);
    console()->setSelection({line, index}, {line, index});
}

QRect ConsoleAccessible::characterRect(int offset) const
{
    const CMonitorConsole* c = console();
    const ConsoleLines& lines = c->lines();
    if (lines.isEmpty())
        return QRect();
    const auto [line, index] = spotOf(offset);
    const QString& text = lines.line(line);
    const double cell = c->columnWidth();
    const int column = ConsoleDisplay::columnOf(text, index);
    const int width = index < text.size()
                          ? ConsoleDisplay::columnOf(
                                text, ConsoleDisplay::clusterEnd(text, ConsoleDisplay::clusterStart(text, index))) -
                                column
                          : 1;
    const QRect local(int(CMonitorConsole::Margin + column * cell) - c->horizontalScrollBar()->value(),
                      CMonitorConsole::Margin + int(line - c->topLine()) * c->lineHeight(), int(width * cell),
                      c->lineHeight());
    return QRect(c->viewport()->mapToGlobal(local.topLeft()), local.size());
}

int ConsoleAccessible::offsetAtPoint(const QPoint& point) const
{
    const CMonitorConsole* c = console();
    const QPoint local = c->viewport()->mapFromGlobal(point);
    if (!c->viewport()->rect().contains(local))
        return -1;
    const auto spot = c->spotAt(local);
    return offsetOf(spot.line, spot.index);
}

void ConsoleAccessible::scrollToSubstring(int startIndex, int /*endIndex*/)
{
    CMonitorConsole* c = console();
    if (c->lines().isEmpty())
        return;
    const auto [line, index] = spotOf(startIndex);
    QScrollBar* v = c->verticalScrollBar();
    const int row = int(line - c->lines().firstNumber());
    if (row < v->value() || row >= v->value() + v->pageStep())
        v->setValue(row - v->pageStep() / 2);
    const int x = int(ConsoleDisplay::columnOf(c->lines().line(line), index) * c->columnWidth());
    QScrollBar* h = c->horizontalScrollBar();
    if (x < h->value() || x >= h->value() + h->pageStep())
        h->setValue(x - h->pageStep() / 2);
}

QString ConsoleAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = offset;
    return QString();
}
