#include "monitor/ClientRouting.h"

#include "core/AppCore.h"
#include "core/LineNavigation.h"
#include "core/MainWindowServices.h"
#include "framework/CDocument.h"
#include "framework/MessageBox.h"
#include "kernel/KernelConnection.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorText.h"
#include "res/Resource.h"
#include "vmsg/vmsg.h"

#include <QDir>

namespace {

const char* const programFileNewName = "KELM Program File";
const char* const monitorFileNewName = "KELM Monitor";

void setClientPane(const QString& text)
{
    setMainWindowPane(Pane::Clients, text);
}

bool isKernelHandle(int handle)
{
    return handle != 0 && handle == GetKernelHandle();
}

MainWindowServices* mainWindow()
{
    AppCore* core = AppCore::instance();
    return core ? core->mainWindow() : nullptr;
}

// The open program the diagnostic is about: one whose path is exactly path, else the first whose
// path differs only in case (a file system that ignores case may have given either spelling).
LineNavigation* programAt(const QString& path)
{
    MainWindowServices* window = mainWindow();
    if (!window)
        return nullptr;
    const QString wanted = QDir::fromNativeSeparators(path);
    CDocument* differentCase = nullptr;
    for (CDocument* doc : window->openDocuments(QString::fromLatin1(programFileNewName))) {
        const QString own = QDir::fromNativeSeparators(doc->pathName());
        if (own == wanted)
            return dynamic_cast<LineNavigation*>(doc);
        if (!differentCase && own.compare(wanted, Qt::CaseInsensitive) == 0)
            differentCase = doc;
    }
    return dynamic_cast<LineNavigation*>(differentCase);
}

void showFileDiagnostic(vmsgMsgPort* message)
{
    char* rawPath = nullptr;
    char* rawText = nullptr;
    int line = 0;
    if (!message->pop(rawPath, -99999, -1) || !message->pop(line, -99999) || !message->pop(rawText, -99999, -1))
        return;
    const QString path = QString::fromUtf8(rawPath);
    // Posted, so the message port goes on delivering to the monitors and the kernel panes while the
    // box is up. The program is looked up once the box has closed: it may have been closed meanwhile.
    KMessageBox::post(MonitorText::cutText(QString::fromUtf8(rawText), MonitorText::maxDiagnosticText),
                      KMessageBox::Icon::None, mainWindowDialogParent(), [path, line] {
                          if (line == -1)
                              return;
                          if (LineNavigation* target = programAt(path))
                              target->GoToLine(line);
                      });
}

void openMonitor(vmsgMsgPort* message)
{
    AppCore* core = AppCore::instance();
    MainWindowServices* window = mainWindow();
    if (!core || !window)
        return;
    // The runner's process id, when it gives one: a runner KelmDesk started can be ended from its monitor.
    int pid = 0;
    const bool hasPid = message->pop(pid, 0) != 0 && pid > 0;
    const int handle = message->handle();
    core->pendingSocket = handle;
    window->newDocument(QString::fromLatin1(monitorFileNewName));
    if (!hasPid)
        return;
    if (MonitorRecord* record = FindMonitorBySocket(handle))
        record->process = core->runners.claim(pid);
}

} // namespace

void OnClientNotify(int handle, int event, long /*user*/)
{
    if (event > 0) {
        setClientPane(QString::asprintf("New client logged on socket %d", handle));
        return;
    }
    if (event != 0 && event != -2)
        return;
    if (isKernelHandle(handle)) {
        OnKernelDisconnected();
        return;
    }
    setClientPane(QString::asprintf("Client disconnected on socket %d", handle));
    if (MonitorRecord* record = FindMonitorBySocket(handle)) {
        if (record->endedByUser) {
            FinishEndedByUser(*record);
            return;
        }
        AppendConsoleLine(*record, QLatin1String(MonitorText::abnormalText), QLatin1String(MonitorText::unknownTime));
        SetMonitorState(*record, MonitorState::Finished);
    }
}

void OnNonReplyMessage(int kind, vmsgMsgPort* message)
{
    if (!message)
        return;
    if (isKernelHandle(message->handle())) {
        DecodeKernelStatus(kind, message);
        return;
    }
    if (MonitorRecord* record = FindMonitorBySocket(message->handle())) {
        HandleMonitorMessage(*record, kind, message);
        return;
    }
    switch (kind) {
    case FileDiagnostic:
        showFileDiagnostic(message);
        break;
    case MonitorOpen:
        openMonitor(message);
        break;
    default:
        break;
    }
}
