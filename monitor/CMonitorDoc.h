#pragma once

#include "framework/CDocument.h"
#include "monitor/ConsoleLines.h"
#include "monitor/LiveLines.h"
#include "monitor/RunRecord.h"

#include <QTimer>

#include <memory>

class QTextDocument;
struct MonitorRecord;

// The monitor of one runner client: the listing and console texts, which every window of the
// document shows, and the Stop command. Creates its MonitorRecord when it is made and removes it
// when it is destroyed. Never modified, so closing never asks to save.
class CMonitorDoc : public CDocument
{
    Q_OBJECT
public:
    CMonitorDoc();
    ~CMonitorDoc() override;

    bool onNewDocument() override;
    bool isModified() const override { return false; }
    void setModified(bool) override {}

    QTextDocument* listing() const { return m_listing.get(); }
    // The console's lines: the last MaxConsoleLines of every line appended.
    const ConsoleLines& console() const { return m_console; }
    // Appends a finished console line (line breaks inside make more lines). The console views
    // scroll to the end once the event loop turns, so a flood of lines costs the network handling
    // next to nothing.
    void appendConsoleLine(const QString& line);
    // The title the framework gave the document ("Monitor1"): the name until the client reports one.
    QString defaultTitle() const { return m_defaultTitle; }

    // Puts the listing views' insertion point at position and scrolls it into view.
    void showListingPosition(int position);
    // Lets each console view take in the new lines (and scroll to the last one while it follows).
    void showConsoleEnd();
    // Asks for a file and writes the console's kept lines to it as UTF-8 text, each line ended by a
    // line feed; tells the user when it cannot be written.
    void saveConsoleAs();
    // The console's kept lines as that file holds them.
    QByteArray consoleFileText() const;

    // The live state of the listing's lines; after a change, liveChanged() repaints the lines it
    // names in every listing view, once the event loop turns.
    LiveLines& live() { return m_live; }
    const LiveLines& live() const { return m_live; }
    void liveChanged();
    // The values and firings of the run, which the trend draws.
    RunRecord& runRecord() { return m_record; }
    const RunRecord& runRecord() const { return m_record; }
    // Stop: asks the program to stop; the title says it is stopping until it ends. A program that
    // has not ended stopWaitMs later is offered to be ended, when KelmDesk started its runner.
    void requestStop();
    // Ends the runner's process: SIGTERM, then SIGKILL after endGraceMs; the monitor finishes with a
    // console line saying the user ended it.
    void endRunner();
    // Called when the program has ended (the monitor is finished).
    void programEnded();
    // Shows the monitor's windows again after its last one was closed with Keep running, and
    // activates it.
    void showWindows();
    // Closes every window of the monitor (asking first while its program runs).
    void closeWindows();

    // Asked before the last window closes while the program runs: Stop, Keep running or Cancel.
    // Stop and Keep running hide the window; the document lives on until its program has ended
    // (Stop) or the user closes it from the Runs pane.
    bool canCloseFrame(CChildFrame* frame) override;

    // The most lines a console keeps; older ones are dropped.
    static constexpr int MaxConsoleLines = 100000;

private:
    std::unique_ptr<QTextDocument> m_listing;
    ConsoleLines m_console{MaxConsoleLines};
    // Runs once per turn of the event loop in which lines came: the views show the new end.
    QTimer m_showEndTimer;
    QString m_defaultTitle;
    LiveLines m_live;
    RunRecord m_record;
    QTimer m_liveTimer;
    // While the program runs: KelmDesk's own kernel status, for a runner that reports no clock.
    QTimer m_kernelStateTimer;
    void repaintLive();
    void followKernelState();
    // From Stop to the offer to end the runner.
    QTimer m_stopWait;
    // While the runner is being ended: looks whether it is gone, and ends it at once after the grace.
    QTimer m_endWatch;
    int m_endTicks = 0;
    bool m_killed = false;

    void offerToEnd();
    void watchEnd();
    void hideWindows();
};
