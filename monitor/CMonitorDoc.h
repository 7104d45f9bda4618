#pragma once

#include "framework/CDocument.h"

#include <QStringList>
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
    // The console with every line appended so far, the queued ones inserted first.
    QTextDocument* console();
    // Queues a finished console line (line breaks inside make more lines); the queue goes into the
    // console in one edit once the event loop turns, so a flood of lines costs the network
    // handling next to nothing.
    void appendConsoleLine(const QString& line);
    // The title the framework gave the document ("Monitor1"): the name until the client reports one.
    QString defaultTitle() const { return m_defaultTitle; }

    // Puts the listing views' insertion point at position and scrolls it into view.
    void showListingPosition(int position);
    // Scrolls the console views to their last line.
    void showConsoleEnd();

    // The most lines a console keeps; older ones are dropped.
    static constexpr int MaxConsoleLines = 100000;
    // The most queued lines one turn of the event loop inserts, which keeps a turn within a few ms.
    static constexpr int MaxLinesPerTurn = 400;

private:
    std::unique_ptr<QTextDocument> m_listing;
    // Inserts up to limit queued lines into the console and scrolls its views to the end.
    void flushConsole(int limit);

    std::unique_ptr<QTextDocument> m_console;
    QStringList m_pendingLines;
    int m_pendingBlocks = 0;
    QTimer m_flushTimer;
    QString m_defaultTitle;
};
