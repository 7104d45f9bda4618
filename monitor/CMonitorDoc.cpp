#include "monitor/CMonitorDoc.h"

#include "core/AppCore.h"
#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "kernel/KernelConnection.h"
#include "monitor/CMonitorConsole.h"
#include "monitor/CMonitorView.h"
#include "monitor/Monitor.h"
#include "res/Resource.h"

#include <QPlainTextDocumentLayout>
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

CMonitorDoc::CMonitorDoc() : m_listing(plainDocument())
{
    m_showEndTimer.setSingleShot(true);
    m_showEndTimer.setInterval(0);
    connect(&m_showEndTimer, &QTimer::timeout, this, &CMonitorDoc::showConsoleEnd);
    m_liveTimer.setSingleShot(true);
    m_liveTimer.setInterval(0);
    connect(&m_liveTimer, &QTimer::timeout, this, &CMonitorDoc::repaintLive);
    m_live.setTimeFormatter([](double t) { return FormatKernelTime(t); });
    m_kernelStateTimer.setInterval(500);
    connect(&m_kernelStateTimer, &QTimer::timeout, this, &CMonitorDoc::followKernelState);
    m_kernelStateTimer.start();
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

void CMonitorDoc::appendConsoleLine(const QString& line)
{
    m_console.append(line);
    if (!m_showEndTimer.isActive())
        m_showEndTimer.start();
}

void CMonitorDoc::liveChanged()
{
    if (!m_liveTimer.isActive())
        m_liveTimer.start();
}

void CMonitorDoc::repaintLive()
{
    const std::vector<int> lines = m_live.takeChanged();
    const bool notice = m_live.noticeChanged();
    for (CView* v : views()) {
        if (auto* view = dynamic_cast<CMonitorView*>(v))
            view->repaintLiveLines(lines, notice);
    }
}

void CMonitorDoc::followKernelState()
{
    const MonitorRecord* record = FindMonitorByDocument(this);
    if (record && record->state == MonitorState::Finished) {
        m_kernelStateTimer.stop();
        return;
    }
    const AppCore* core = AppCore::instance();
    m_live.setFallbackState(core ? core->kernelState : LiveLines::Unknown);
    if (m_live.noticeChanged()) {
        for (CView* v : views()) {
            if (auto* view = dynamic_cast<CMonitorView*>(v))
                view->repaintLiveLines({}, true);
        }
    }
}

void CMonitorDoc::showConsoleEnd()
{
    for (CView* v : views()) {
        if (auto* console = dynamic_cast<CMonitorConsole*>(v))
            console->showEnd();
    }
}
