#pragma once

#include "framework/CView.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>

#include <memory>

class CFollowBar;
class CMonitorDoc;
class ConsoleLines;
class QAccessibleTextInterface;
class QTextDocument;

// Lower pane of a monitor: the time-stamped console, read-only, in the system's fixed-pitch font on
// white. Draws the lines on screen straight from the document's line store, so that a console of
// 100,000 lines costs nothing while lines stream in; text is selected with the mouse and copied. It
// follows the end until the user scrolls away from it or selects text; End or the pane's Resume
// button follows again.
class CMonitorConsole : public QAbstractScrollArea, public CView
{
    Q_OBJECT
public:
    explicit CMonitorConsole(CMonitorDoc* document, QWidget* parent = nullptr);
    ~CMonitorConsole() override;

    QWidget* widget() override { return this; }
    // Takes in the lines that came once the event loop turns, however many came meanwhile, and
    // scrolls to the last one while following; a paused view keeps its top line.
    void showEnd();

    bool isFollowing() const { return m_following; }
    // Pausing leaves the view where it is; resuming scrolls to the end. Neither touches the selection.
    void setFollowing(bool following);

    // Selects the next (or previous) occurrence of what within a line, after (before) the selection
    // or else the top line, going round the console's end; false when there is none.
    bool find(const QString& what, bool backward, bool matchCase);

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
    // A selection the user makes pauses following.
    void setSelection(Spot anchor, Spot caret, bool byUser = true);
    // Sets the vertical scroll bar without pausing: to the end while following, else to keep the top
    // line where it was.
    void placeVertically();
    void onScrolled();
    // The kept lines as a document to print.
    std::unique_ptr<QTextDocument> printable() const;
    void print(bool direct);
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
    bool m_following = true;
    // Set while the view moves itself, so that only the user's scrolling pauses it.
    int m_moving = 0;
    // The line at the top as the user last saw it; lines dropped at the front do not move it.
    qint64 m_topNumber = 0;
    CFollowBar* m_followBar;
    bool m_copyAvailable = false;
    QPoint m_dragPos;
    QBasicTimer m_dragScroll;
    QBasicTimer m_tripleClick;
    QPoint m_tripleClickPos;
    qint64 m_shownEnd = 0;
    int m_zoomDelta = 0;
};
