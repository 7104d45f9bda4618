#include "kernel/KernelConnection.h"
#include "protocol/KernelKind.h"

#include "core/AppCore.h"
#include "core/MainWindowServices.h"
#include "framework/Modal.h"
#include "kernel/CLogOnDlg.h"
#include "kernel/KernelTime.h"
#include "res/Resource.h"
#include "vmsg/vmsg.h"

#include <QDialog>

namespace {

void setPane(int pane, const QString& text)
{
    setMainWindowPane(pane, text);
}

void showNotLoggedOn()
{
    setPane(Pane::KernelTime, QLatin1String(KernelText::NoTime));
    setPane(Pane::KernelState, QLatin1String(KernelText::NotLoggedOn));
}

// What the editor's tag knowledge reads of the connection besides the handle.
struct Known
{
    QString name; // "HOST:N" of the last log-on
    int modelGeneration = 0;
    bool modelLoaded = false; // as the last status said
};

Known& known()
{
    static Known k;
    return k;
}

} // namespace

bool LogOnKernel(const QString& host, int instance, bool flag)
{
    AppCore* app = AppCore::instance();
    if (!app || host.size() > kMaxHostNameLength)
        return false;
    vmsgMsgPort port;
    if (app->kernelHandle != 0) {
        port.log_off(kKernelService);
        app->kernelHandle = 0;
        app->kernelState = -1;
        showNotLoggedOn();
    }
    const QByteArray hostName = host.toUtf8();
    app->kernelHandle = port.log_on(kKernelService, instance, hostName.constData(), flag);
    if (app->kernelHandle == 0)
        return false;
    known().name = host + QLatin1Char(':') + QString::number(instance);
    setPane(Pane::KernelState, QLatin1String(KernelText::LoggedOn));
    if (vmsgMsgPort* reply = vmsgRequestBlock(port, app->kernelHandle, KernelKind::Status, "   ", 20, nullptr))
        DecodeKernelStatus(KernelKind::Status, reply);
    return true;
}

bool IsLoggedOn()
{
    return GetKernelHandle() != 0;
}

int KernelModelGeneration()
{
    return known().modelGeneration;
}

QString KernelName()
{
    return IsLoggedOn() ? known().name : QString();
}

int GetKernelHandle()
{
    AppCore* app = AppCore::instance();
    return app ? app->kernelHandle : 0;
}

void DecodeKernelStatus(int kind, vmsgMsgPort* message)
{
    AppCore* app = AppCore::instance();
    if (kind != KernelKind::Status || !message || !app)
        return;
    const std::optional<KernelStatus> status = decodeKernelStatusValues(*message);
    if (!status)
        return;
    app->calendarTime = isCalendarTime(status->time, kernelClockNow());
    app->kernelState = status->state;
    const bool loaded = status->state != protocol::NoModel;
    if (loaded != known().modelLoaded) {
        known().modelLoaded = loaded;
        ++known().modelGeneration;
    }
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
    if (AppCore* app = AppCore::instance()) {
        app->kernelHandle = 0;
        app->kernelState = -1;
    }
    showNotLoggedOn();
}

void onLogOn()
{
    CLogOnDlg dlg(mainWindowDialogParent());
    if (Modal::run(dlg) != QDialog::Accepted)
        return;
    LogOnKernel(dlg.hostname, atoiText(dlg.instance), false);
}

QString FormatKernelTime(double t)
{
    AppCore* app = AppCore::instance();
    return FormatKernelTime(t, app && app->calendarTime);
}
