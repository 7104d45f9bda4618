#pragma once

#include "framework/CChildFrame.h"

class CMonitorConsole;
class CMonitorView;
class QSplitter;

// The window of a monitor: the listing above the console, split horizontally; F6 moves between them.
class CMonitorFrame : public CChildFrame
{
    Q_OBJECT
public:
    explicit CMonitorFrame(CDocument* document, QWidget* parent = nullptr);

    CMonitorView* listingView() const { return m_listing; }
    CMonitorConsole* consoleView() const { return m_console; }
    QSplitter* splitter() const { return m_splitter; }

private:
    QSplitter* m_splitter;
    CMonitorView* m_listing;
    CMonitorConsole* m_console;
};
