#pragma once

#include "framework/CView.h"

#include <QPlainTextEdit>

#include <vector>

class CFollowBar;
class CMonitorDoc;

// Upper pane of a monitor: the program listing, read-only, in "Courier New" or the system's
// fixed-pitch font, with copy, select all, find and printing. It follows the current line until the
// user scrolls it out of view or selects text; End or the pane's Resume button follows again.
class CMonitorView : public QPlainTextEdit, public CView
{
    Q_OBJECT
public:
    explicit CMonitorView(CMonitorDoc* document, QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    // Insertion point at position, scrolled into view, while the pane follows; a selection stays as
    // it is and only the view moves. Under a flood of marks only the last position of a turn of the
    // event loop is shown, and none while following is paused.
    void showPosition(int position);
    // Repaints the live texts of lines (1-based) that are in view, and the kernel notice when it
    // changed. The texts are painted beside the listing, never put into it, so copying and printing
    // give the listing alone.
    void repaintLiveLines(const std::vector<int>& lines, bool notice);
    // Where the live text of line k is painted, in viewport coordinates; empty when it has none or
    // is out of view.
    QRect liveTextRect(int k) const;
    // Where the kernel notice is painted; empty when there is none.
    QRect noticeRect() const;

    bool isFollowing() const { return m_following; }
    // Pausing leaves the view where it is; resuming shows the last position asked for.
    void setFollowing(bool following);

    // Selects the next (or previous) occurrence of what after (before) the selection or insertion
    // point, going round the listing's end; false when there is none.
    bool find(const QString& what, bool backward, bool matchCase);

    static constexpr int PrintMarginTwips = 720;

    // Copies the selected lines (all without a selection) with the live texts beside them.
    void copyWithValues();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void print(bool direct);
    void applyPendingPosition();
    // Row of block number index in viewport coordinates (empty when out of view).
    QRect rowRect(int index) const;
    QColor liveColour(int role) const;

    CMonitorDoc* m_doc = nullptr;
    // Scrolls so that position's line is in view, leaving the selection.
    void scrollToPosition(int position);
    bool positionVisible(int position) const;
    void onScrolled();

    bool m_copyAvailable = false;
    bool m_following = true;
    bool m_showPending = false;
    // Set while the pane moves itself, so that only the user's scrolling and selecting pause it.
    int m_moving = 0;
    int m_followPosition = -1;
    CFollowBar* m_followBar;
};
