#pragma once

#include "framework/CChildFrame.h"

class CMonitorConsole;
class CMonitorFindBar;
class CMonitorView;
class CTrendPane;
class CView;
class QSplitter;

// The window of a monitor: the listing above the console and the trend (side by side; View >
// Console and View > Trend show and hide them), and a find bar at the foot for the listing or the
// console; F6 moves between the panes. A click on a marker of the trend selects its line in the
// listing; the lines selected in the listing have their markers highlighted.
class CMonitorFrame : public CChildFrame
{
    Q_OBJECT
public:
    explicit CMonitorFrame(CDocument* document, QWidget* parent = nullptr);
    // Unless a monitor window was made already: makes one of an empty monitor, paints it at size
    // into an image and drops it. The first window of a process loads its fonts and glyphs, the
    // style's icons and the chart library (about 20 ms here), which the first monitor would
    // otherwise pay while its program's first messages arrive.
    static void warmUp(QSize size);

    CMonitorView* listingView() const { return m_listing; }
    CMonitorConsole* consoleView() const { return m_console; }
    QSplitter* splitter() const { return m_splitter; }
    CTrendPane* trendPane() const { return m_trend; }
    // File > Export Run Report...: asks for a file and writes the run report to it as a PDF, the
    // run as it is now when it has not ended.
    void exportRunReport();
    // Selects listing line k (1-based) and shows it.
    void selectListingLine(int k);
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

    void highlightSelectedLines();

    QSplitter* m_splitter;
    QSplitter* m_lower;
    CTrendPane* m_trend;
    CMonitorView* m_listing;
    CMonitorConsole* m_console;
    CMonitorFindBar* m_findBar;
    CView* m_findTarget = nullptr;
    static inline bool s_made = false; // a monitor window was made in this process
};
