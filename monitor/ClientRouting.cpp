#include "monitor/ClientRouting.h"

#include "core/MainWindowServices.h"
#include "kernel/KernelConnection.h"
#include "res/Resource.h"
#include "vmsg/vmsg.h"

namespace {

void setClientPane(const QString& text)
{
    setMainWindowPane(Pane::Clients, text);
}

bool isKernelHandle(int handle)
{
    return handle != 0 && handle == GetKernelHandle();
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
}

void OnNonReplyMessage(int kind, vmsgMsgPort* message)
{
    if (!message)
        return;
    if (isKernelHandle(message->handle())) {
        DecodeKernelStatus(kind, message);
        return;
    }
    // Messages of runner clients have no receiver yet and are dropped.
}
