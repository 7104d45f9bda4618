#include "monitor/CMonitorDoc.h"

#include "core/AppCore.h"
#include "framework/CMDIFrame.h"
#include "core/FileSave.h"
#include "framework/CommandIds.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "monitor/CMonitorConsole.h"
#include "monitor/CMonitorView.h"
#include "monitor/Monitor.h"
#include "res/Resource.h"

#include <QDir>
#include <QFileInfo>
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
    // Nothing of a monitor is ever saved.
    onCommand(
        Cmd::FileSave, [] {}, [] { return false; });
    onCommand(
        Cmd::FileSaveAs, [] {}, [] { return false; });
    onCommand(
        Cmd::SaveConsoleAs, [this] { saveConsoleAs(); }, [this] { return !m_console.isEmpty(); });
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

void CMonitorDoc::showConsoleEnd()
{
    for (CView* v : views()) {
        if (auto* console = dynamic_cast<CMonitorConsole*>(v))
            console->showEnd();
    }
}

QByteArray CMonitorDoc::consoleFileText() const
{
    if (m_console.isEmpty())
        return QByteArray();
    return (m_console.toPlainText() + QLatin1Char('\n')).toUtf8();
}

void CMonitorDoc::saveConsoleAs()
{
    const MonitorRecord* record = FindMonitorByDocument(this);
    const QString name = record && record->programName ? *record->programName : m_defaultTitle;
    QString base = QFileInfo(name).completeBaseName();
    if (base.isEmpty())
        base = m_defaultTitle;
    QString path = Modal::getSaveFileName(nullptr, tr("Save Console As"), base + QStringLiteral(" console.txt"),
                                          tr("Text Files (*.txt);;All Files (*)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty() && !QFileInfo::exists(path))
        path += QStringLiteral(".txt");
    const FileSave::Result saved = FileSave::writeReplacing(path, consoleFileText());
    if (!saved.ok)
        KMessageBox::show(tr("Cannot save %1.\n%2").arg(QDir::toNativeSeparators(path), saved.reason),
                          KMessageBox::Icon::Stop, QMessageBox::Ok);
}
