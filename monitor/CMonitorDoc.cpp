#include "monitor/CMonitorDoc.h"

#include "core/AppCore.h"
#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "monitor/CMonitorConsole.h"
#include "monitor/CMonitorView.h"
#include "monitor/Monitor.h"
#include "res/Resource.h"

#include <QPlainTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace {
std::unique_ptr<QTextDocument> plainDocument()
{
    auto document = std::make_unique<QTextDocument>();
    document->setDocumentLayout(new QPlainTextDocumentLayout(document.get()));
    // A monitor is never edited: no undo history to grow with every line.
    document->setUndoRedoEnabled(false);
    return document;
}
} // namespace

CMonitorDoc::CMonitorDoc() : m_listing(plainDocument()), m_console(plainDocument())
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] { flushConsole(MaxLinesPerTurn); });
    // Nothing of a monitor is ever saved.
    onCommand(
        Cmd::FileSave, [] {}, [] { return false; });
    onCommand(
        Cmd::FileSaveAs, [] {}, [] { return false; });
    onCommand(
        Cmd::Stop,
        [this] {
            if (MonitorRecord* record = FindMonitorByDocument(this))
                SendStop(*record);
        },
        [this] {
            const MonitorRecord* record = FindMonitorByDocument(this);
            return record && record->state != MonitorState::Finished;
        });
}

CMonitorDoc::~CMonitorDoc()
{
    AppCore* core = AppCore::instance();
    if (!core)
        return;
    auto& monitors = core->monitors;
    auto it = std::find_if(monitors.begin(), monitors.end(),
                           [this](const std::unique_ptr<MonitorRecord>& r) { return r->document == this; });
    if (it != monitors.end())
        monitors.erase(it);
    CMDIFrame::requestCommandUpdate();
}

bool CMonitorDoc::onNewDocument()
{
    if (!CDocument::onNewDocument())
        return false;
    m_defaultTitle = title();
    AppCore* core = AppCore::instance();
    if (!core)
        return true;
    auto record = std::make_unique<MonitorRecord>();
    record->socket = core->pendingSocket;
    record->document = this;
    for (CView* v : views()) {
        if (auto* console = dynamic_cast<CMonitorConsole*>(v)) {
            record->console = console;
            break;
        }
    }
    core->monitors.push_back(std::move(record));
    return true;
}

void CMonitorDoc::showListingPosition(int position)
{
    for (CView* v : views()) {
        if (auto* view = dynamic_cast<CMonitorView*>(v))
            view->showPosition(position);
    }
}

QTextDocument* CMonitorDoc::console()
{
    if (!m_pendingLines.isEmpty())
        flushConsole(int(m_pendingLines.size()));
    return m_console.get();
}

void CMonitorDoc::appendConsoleLine(const QString& line)
{
    const int blocks = int(line.count(QLatin1Char('\n'))) + 1;
    m_pendingLines.append(line);
    m_pendingBlocks += blocks;
    // Queued lines the cap would trim right after their insertion are dropped now: the queue stays
    // within the cap however long the console waits.
    while (m_pendingLines.size() > 1) {
        const int first = int(m_pendingLines.first().count(QLatin1Char('\n'))) + 1;
        if (m_pendingBlocks - first < MaxConsoleLines)
            break;
        m_pendingLines.removeFirst();
        m_pendingBlocks -= first;
    }
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void CMonitorDoc::flushConsole(int limit)
{
    const int n = std::min(limit, int(m_pendingLines.size()));
    if (n <= 0)
        return;
    QString text;
    qsizetype length = n;
    for (int i = 0; i < n; ++i)
        length += m_pendingLines.at(i).size();
    text.reserve(length);
    int blocks = 0;
    for (int i = 0; i < n; ++i) {
        const QString& line = m_pendingLines.at(i);
        if (i > 0)
            text += QLatin1Char('\n');
        text += line;
        blocks += int(line.count(QLatin1Char('\n'))) + 1;
    }
    m_pendingLines.erase(m_pendingLines.begin(), m_pendingLines.begin() + n);
    m_pendingBlocks -= blocks;

    // The cap is kept here rather than by QTextDocument::setMaximumBlockCount: that trims through a
    // cursor that lays out the first block, and once the widest line has been trimmed the plain-text
    // layout then measures every block of the console (about 100 ms and a layout object for each of
    // 100,000 lines). Positions are set inside edit blocks, where a cursor lays nothing out.
    QTextDocument* console = m_console.get();
    const int kept = console->isEmpty() ? 0 : console->blockCount();
    const int excess = kept + blocks - MaxConsoleLines;
    if (excess >= kept) {
        console->clear();
        // More queued lines than the cap (a long last one): only the cap's worth of the end goes in.
        qsizetype cut = 0;
        for (int drop = blocks - MaxConsoleLines; drop > 0; --drop)
            cut = text.indexOf(QLatin1Char('\n'), cut) + 1;
        text.remove(0, cut);
    } else if (excess > 0) {
        QTextCursor trim(console);
        trim.beginEditBlock();
        trim.setPosition(console->findBlockByNumber(excess).position(), QTextCursor::KeepAnchor);
        trim.removeSelectedText();
        trim.endEditBlock();
    }
    QTextCursor cursor(console);
    cursor.beginEditBlock();
    cursor.setPosition(console->characterCount() - 1);
    if (!console->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text);
    cursor.endEditBlock();
    showConsoleEnd();
    if (!m_pendingLines.isEmpty())
        m_flushTimer.start();
}

void CMonitorDoc::showConsoleEnd()
{
    for (CView* v : views()) {
        if (auto* console = dynamic_cast<CMonitorConsole*>(v))
            console->showEnd();
    }
}
