#pragma once

#include "framework/CDocument.h"
#include "monitor/ConsoleLines.h"

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

    // The most lines a console keeps; older ones are dropped.
    static constexpr int MaxConsoleLines = 100000;

private:
    std::unique_ptr<QTextDocument> m_listing;
    ConsoleLines m_console{MaxConsoleLines};
    // Runs once per turn of the event loop in which lines came: the views show the new end.
    QTimer m_showEndTimer;
    QString m_defaultTitle;
};
