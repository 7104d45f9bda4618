#pragma once

#include "framework/CChildFrame.h"

class CMonitorConsole;
class CMonitorFindBar;
class CMonitorView;
class CView;
class QSplitter;

// The window of a monitor: the listing above the console, split horizontally, and a find bar at
// the foot for either pane; F6 moves between the panes.
class CMonitorFrame : public CChildFrame
{
    Q_OBJECT
public:
    explicit CMonitorFrame(CDocument* document, QWidget* parent = nullptr);

    CMonitorView* listingView() const { return m_listing; }
    CMonitorConsole* consoleView() const { return m_console; }
    QSplitter* splitter() const { return m_splitter; }
    CMonitorFindBar* findBar() const { return m_findBar; }

    // Opens the find bar for pane (the listing or the console), starting with its selection when
    // that is a part of one line.
    void startFind(CView* pane);
    // Finds the bar's text again in the pane searched last, or in the pane that has the focus; opens
    // the bar when there is nothing to look for yet.
    void findAgain(bool backward);

private:
    // The pane with the focus, else the one searched last, else the listing.
    CView* searchedPane();
    bool findIn(CView* pane, bool backward);
    QString paneName(const CView* pane) const;

    QSplitter* m_splitter;
    CMonitorView* m_listing;
    CMonitorConsole* m_console;
    CMonitorFindBar* m_findBar;
    CView* m_findTarget = nullptr;
};
