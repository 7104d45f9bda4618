#pragma once

#include "framework/CView.h"

#include <QPlainTextEdit>

class CMonitorDoc;

// Lower pane of a monitor: the time-stamped console, read-only, in the system's fixed-pitch font on
// white.
class CMonitorConsole : public QPlainTextEdit, public CView
{
    Q_OBJECT
public:
    explicit CMonitorConsole(CMonitorDoc* document, QWidget* parent = nullptr);
    ~CMonitorConsole() override;

    QWidget* widget() override { return this; }
    // Scrolls to the last line once the event loop turns, however many lines came meanwhile.
    void showEnd();

private:
    bool m_copyAvailable = false;
    bool m_endPending = false;
};
