#pragma once

#include "framework/CView.h"

#include <QPlainTextEdit>

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

    static constexpr int PrintMarginTwips = 720;

private:
    void print(bool direct);
    void applyPendingPosition();

    bool m_copyAvailable = false;
    int m_pendingPosition = -1;
};
