#pragma once

#include "framework/CView.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>

class CMonitorDoc;
class ConsoleLines;
class QAccessibleTextInterface;

// Lower pane of a monitor: the time-stamped console, read-only, in the system's fixed-pitch font on
// white. Draws the lines on screen straight from the document's line store, so that a console of
// 100,000 lines costs nothing while lines stream in; text is selected with the mouse and copied.
class CMonitorConsole : public QAbstractScrollArea, public CView
{
    Q_OBJECT
public:
    explicit CMonitorConsole(CMonitorDoc* document, QWidget* parent = nullptr);
    ~CMonitorConsole() override;

    QWidget* widget() override { return this; }
    // Scrolls to the last line once the event loop turns, however many lines came meanwhile.
    void showEnd();

    bool hasSelectedText() const { return m_anchor != m_caret; }
    QString selectedText() const;
    void copy();
    void selectAll();
    // The line shown at the top of the pane (its number in the console's line store).
    qint64 topLine() const;
    // One past the last line the view has taken in.
    qint64 shownEnd() const { return m_shownEnd; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    friend class ConsoleAccessible;
    // Space between the pane's edges and the text, as a plain text edit leaves it.
    static constexpr int Margin = 4;

    // A place between two characters: line number in the store and character index in that line.
    struct Spot
    {
        qint64 line = 0;
        int index = 0;
        bool operator==(const Spot& o) const { return line == o.line && index == o.index; }
        bool operator!=(const Spot& o) const { return !(*this == o); }
        bool operator<(const Spot& o) const { return line < o.line || (line == o.line && index < o.index); }
    };

    const ConsoleLines& lines() const;
    int lineHeight() const;
    double columnWidth() const;
    int rowsShown() const;
    void updateScrollBars();
    // Cell column, in fractions of a cell, under viewport x.
    double columnAt(int x) const;
    Spot spotAt(const QPoint& pos) const;
    void setSelection(Spot anchor, Spot caret);
    // Moves the caret to the mouse while a drag selects, and scrolls when the mouse is beyond the pane.
    void dragTo(const QPoint& pos);
    void publishSelection();
    void endDrag();
    // Tells assistive technology of the lines that came since the last call.
    void reportNewLines();
    // The view's text for assistive technology, or null while none is listening.
    QAccessibleTextInterface* accessibleText();

    Spot m_anchor;
    Spot m_caret;
    bool m_selecting = false;
    bool m_endPending = false;
    bool m_copyAvailable = false;
    QPoint m_dragPos;
    QBasicTimer m_dragScroll;
    QBasicTimer m_tripleClick;
    QPoint m_tripleClickPos;
    qint64 m_shownEnd = 0;
    int m_zoomDelta = 0;
};
