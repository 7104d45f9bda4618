#pragma once

#include "framework/CView.h"

#include <QPlainTextEdit>

#include <vector>

class CMonitorDoc;

// Upper pane of a monitor: the program listing, read-only, in "Courier New" or the system's
// fixed-pitch font, with copy, select all and printing.
class CMonitorView : public QPlainTextEdit, public CView
{
    Q_OBJECT
public:
    explicit CMonitorView(CMonitorDoc* document, QWidget* parent = nullptr);

    QWidget* widget() override { return this; }
    // Insertion point at position, scrolled into view. Under a flood of marks only the last
    // position of a turn of the event loop is shown.
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

protected:
    void paintEvent(QPaintEvent* event) override;
    bool viewportEvent(QEvent* event) override;

    static constexpr int PrintMarginTwips = 720;

private:
    void print(bool direct);
    void applyPendingPosition();
    // Row of block number index in viewport coordinates (empty when out of view).
    QRect rowRect(int index) const;
    QColor liveColour(int role) const;

    CMonitorDoc* m_doc = nullptr;

    bool m_copyAvailable = false;
    int m_pendingPosition = -1;
};
