#include "monitor/CMonitorDoc.h"

#include "core/AppCore.h"
#include "framework/CMDIFrame.h"
#include "core/FileSave.h"
#include "framework/CommandIds.h"
#include "kernel/KernelConnection.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "monitor/CMonitorConsole.h"
#include "monitor/CMonitorView.h"
#include "monitor/Monitor.h"
#include "res/Resource.h"
#include "core/MainWindowServices.h"
#include "framework/CChildFrame.h"
#include "framework/MessageBox.h"

#include <QMdiArea>
#include <QPointer>

#include <QDir>
#include <QFileInfo>
#include <QPlainTextDocumentLayout>
#include <QTextDocument>

#include <algorithm>
#include <utility>

namespace {

// How often a runner being ended is looked at.
constexpr int EndWatchMs = 100;

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
    m_stopWait.setSingleShot(true);
    m_stopWait.setInterval(MonitorText::stopWaitMs);
    connect(&m_stopWait, &QTimer::timeout, this, &CMonitorDoc::offerToEnd);
    m_endWatch.setInterval(EndWatchMs);
    connect(&m_endWatch, &QTimer::timeout, this, &CMonitorDoc::watchEnd);
    // Nothing of a monitor is ever saved.
    onCommand(
        Cmd::FileSave, [] {}, [] { return false; });
    onCommand(
        Cmd::FileSaveAs, [] {}, [] { return false; });
    onCommand(
        Cmd::SaveConsoleAs, [this] { saveConsoleAs(); }, [this] { return !m_console.isEmpty(); });
    onCommand(
        Cmd::ExportRunData, [this] { exportRunData(); },
        [this] { return m_record.pointCount() > 0 || !m_record.firings().empty(); });
    onCommand(
        Cmd::Stop, [this] { requestStop(); },
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
    record->openedAt = QDateTime::currentDateTime();
    core->monitors.push_back(std::move(record));
    return true;
}

void CMonitorDoc::requestStop()
{
    MonitorRecord* record = FindMonitorByDocument(this);
    if (!record || record->state == MonitorState::Finished)
        return;
    SendStop(*record);
    record->stopping = true;
    SetMonitorState(*record, record->state);
    // A second Stop sends the request again and restarts the wait.
    m_stopWait.start();
}

void CMonitorDoc::offerToEnd()
{
    MonitorRecord* record = FindMonitorByDocument(this);
    if (!record || record->state == MonitorState::Finished || !record->stopping || m_endWatch.isActive())
        return;
    if (!record->process || !RunnerProcesses::isRunning(*record->process)) {
        AppendConsoleLine(*record, QLatin1String(MonitorText::notEndedText), QLatin1String(MonitorText::unknownTime));
        return;
    }
    const QString name = record->programName.value_or(m_defaultTitle);
    QPointer<CMonitorDoc> self(this);
    const auto answer =
        KMessageBox::show(tr("%1 has not ended %2 seconds after Stop.\nEnd its runner (process %3)?")
                              .arg(name)
                              .arg(MonitorText::stopWaitMs / 1000)
                              .arg(record->process->pid),
                          KMessageBox::Icon::Question, QMessageBox::Yes | QMessageBox::No, mainWindowDialogParent(),
                          {{QMessageBox::Yes, tr("End Program")}, {QMessageBox::No, tr("Keep Waiting")}});
    // The program may have ended, or the monitor been closed, while the box was up.
    if (self && answer == QMessageBox::Yes)
        endRunner();
}

void CMonitorDoc::endRunner()
{
    MonitorRecord* record = FindMonitorByDocument(this);
    if (!record || record->state == MonitorState::Finished || !record->process || m_endWatch.isActive())
        return;
    record->endedByUser = true;
    m_killed = false;
    m_endTicks = 0;
    if (!RunnerProcesses::terminate(*record->process)) {
        FinishEndedByUser(*record);
        return;
    }
    m_endWatch.start();
}

void CMonitorDoc::watchEnd()
{
    MonitorRecord* record = FindMonitorByDocument(this);
    if (!record || record->state == MonitorState::Finished) {
        m_endWatch.stop();
        return;
    }
    if (!RunnerProcesses::isRunning(*record->process)) {
        m_endWatch.stop();
        FinishEndedByUser(*record);
        return;
    }
    if (!m_killed && ++m_endTicks * EndWatchMs >= MonitorText::endGraceMs)
        m_killed = RunnerProcesses::kill(*record->process);
}

void CMonitorDoc::programEnded()
{
    m_stopWait.stop();
    m_endWatch.stop();
    const MonitorRecord* record = FindMonitorByDocument(this);
    if (record && record->closeWhenFinished && record->windowClosed) {
        // Not inside the message port's handler that reported the end.
        QPointer<CMonitorDoc> self(this);
        QTimer::singleShot(0, this, [self] {
            if (self)
                self->closeWindows();
        });
    }
}

bool CMonitorDoc::canCloseFrame(CChildFrame* frame)
{
    const QList<CChildFrame*> all = frames();
    if (all.size() > 1 || (all.size() == 1 && all.constFirst() != frame))
        return true;
    MonitorRecord* record = FindMonitorByDocument(this);
    const AppCore* core = AppCore::instance();
    if (!record || record->state == MonitorState::Finished || (core && core->quitting))
        return true;
    const QString name = record->programName.value_or(m_defaultTitle);
    QPointer<CMonitorDoc> self(this);
    const auto answer = KMessageBox::show(tr("%1 is still running.\nStop it?").arg(name), KMessageBox::Icon::Question,
                                          QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, frame,
                                          {{QMessageBox::Yes, tr("Stop")}, {QMessageBox::No, tr("Keep Running")}});
    if (!self || answer == QMessageBox::Cancel)
        return false;
    record = FindMonitorByDocument(this);
    // The program ended while the box was up: nothing left to ask about.
    if (!record || record->state == MonitorState::Finished)
        return true;
    if (answer == QMessageBox::Yes) {
        requestStop();
        record->closeWhenFinished = true;
    }
    hideWindows();
    return false;
}

void CMonitorDoc::hideWindows()
{
    if (MonitorRecord* record = FindMonitorByDocument(this))
        record->windowClosed = true;
    for (CChildFrame* f : frames())
        f->hide();
    CMDIFrame::requestCommandUpdate();
}

void CMonitorDoc::showWindows()
{
    if (MonitorRecord* record = FindMonitorByDocument(this)) {
        record->windowClosed = false;
        record->closeWhenFinished = false;
    }
    const QList<CChildFrame*> all = frames();
    for (CChildFrame* f : all)
        f->show();
    if (!all.isEmpty()) {
        CChildFrame* first = all.constFirst();
        if (QMdiArea* area = first->mdiArea())
            area->setActiveSubWindow(first);
    }
    CMDIFrame::requestCommandUpdate();
}

void CMonitorDoc::closeWindows()
{
    QPointer<CMonitorDoc> self(this);
    const QList<CChildFrame*> all = frames();
    for (CChildFrame* f : all) {
        if (!self || !f->close())
            return;
    }
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

void CMonitorDoc::exportRunData()
{
    const MonitorRecord* record = FindMonitorByDocument(this);
    const QString name = record && record->programName ? *record->programName : m_defaultTitle;
    QString base = QFileInfo(name).completeBaseName();
    if (base.isEmpty())
        base = m_defaultTitle;
    QString path = Modal::getSaveFileName(nullptr, tr("Export Run Data"), base + QStringLiteral(".csv"),
                                          tr("CSV Files (*.csv);;All Files (*)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty() && !QFileInfo::exists(path))
        path += QStringLiteral(".csv");
    // NAME.csv and NAME-firings.csv, NAME being the chosen file's name without its .csv.
    const QFileInfo chosen(path);
    const QString stem = chosen.suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0
                             ? chosen.completeBaseName()
                             : chosen.fileName();
    const QString firingsPath = chosen.dir().filePath(stem + QStringLiteral("-firings.csv"));
    const std::pair<QString, QByteArray> files[] = {{path, m_record.valuesCsv()}, {firingsPath, m_record.firingsCsv()}};
    for (const auto& [file, bytes] : files) {
        const FileSave::Result saved = FileSave::writeReplacing(file, bytes);
        if (!saved.ok) {
            KMessageBox::show(tr("Cannot save %1.\n%2").arg(QDir::toNativeSeparators(file), saved.reason),
                              KMessageBox::Icon::Stop, QMessageBox::Ok);
            return;
        }
    }
}
