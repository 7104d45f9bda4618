#include "kernel/KernelConnection.h"

#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "framework/CStatusBar.h"
#include "framework/Modal.h"
#include "kernel/CLogOnDlg.h"
#include "kernel/KernelTime.h"
#include "res/Resource.h"
#include "vmsg/vmsg.h"

#include <QDialog>

namespace {

void setPane(int pane, const QString& text)
{
    CKelmDeskApp* app = CKelmDeskApp::instance();
    if (CStatusBar* bar = app ? app->statusBar() : nullptr)
        bar->SetPaneText(pane, text);
}

void showNotLoggedOn()
{
    setPane(Pane::KernelTime, QLatin1String(KernelText::NoTime));
    setPane(Pane::KernelState, QLatin1String(KernelText::NotLoggedOn));
}

} // namespace

bool LogOnKernel(const QString& host, int instance, bool flag)
{
    CKelmDeskApp* app = CKelmDeskApp::instance();
    if (!app || host.size() > kMaxHostNameLength)
        return false;
    vmsgMsgPort port;
    if (app->kernelHandle != 0) {
        port.log_off(kKernelService);
        app->kernelHandle = 0;
        showNotLoggedOn();
    }
    const QByteArray hostName = host.toUtf8();
    app->kernelHandle = port.log_on(kKernelService, instance, hostName.constData(), flag);
    if (app->kernelHandle == 0)
        return false;
    setPane(Pane::KernelState, QLatin1String(KernelText::LoggedOn));
    if (vmsgMsgPort* reply = vmsgRequestBlock(port, app->kernelHandle, kKernelStatusKind, "   ", 20, nullptr))
        DecodeKernelStatus(kKernelStatusKind, reply);
    return true;
}

bool IsLoggedOn()
{
    return GetKernelHandle() != 0;
}

int GetKernelHandle()
{
    CKelmDeskApp* app = CKelmDeskApp::instance();
    return app ? app->kernelHandle : 0;
}

void DecodeKernelStatus(int kind, vmsgMsgPort* message)
{
    CKelmDeskApp* app = CKelmDeskApp::instance();
    if (kind != kKernelStatusKind || !message || !app)
        return;
    const std::optional<KernelStatus> status = decodeKernelStatusValues(*message);
    if (!status)
        return;
    app->calendarTime = IsCalendarTime(status->time, kernelClockNow());
    setPane(Pane::KernelTime, FormatKernelTime(status->time, app->calendarTime));
    switch (status->state) {
    case 0:
        setPane(Pane::KernelState, QLatin1String(KernelText::NoModel));
        break;
    case 1:
        setPane(Pane::KernelState, QLatin1String(KernelText::Running));
        break;
    case 2:
        setPane(Pane::KernelState, QLatin1String(KernelText::Paused));
        break;
    default:
        break;
    }
}

void OnKernelDisconnected()
{
    if (CKelmDeskApp* app = CKelmDeskApp::instance())
        app->kernelHandle = 0;
    showNotLoggedOn();
}

void OnLogOn()
{
    CKelmDeskApp* app = CKelmDeskApp::instance();
    CLogOnDlg dlg(app ? app->mainFrame() : nullptr);
    if (Modal::run(dlg) != QDialog::Accepted)
        return;
    LogOnKernel(dlg.hostname, AtoiText(dlg.instance), false);
}

QString FormatKernelTime(double t)
{
    CKelmDeskApp* app = CKelmDeskApp::instance();
    return FormatKernelTime(t, app && app->calendarTime);
}
