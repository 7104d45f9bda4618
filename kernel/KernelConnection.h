#pragma once

#include "protocol/KernelKind.h"

#include <QString>

class vmsgMsgPort;

// The one kernel connection of the application: log-on, the kernel's status in panes 2 and 3 of the
// status bar, and the reaction to a lost connection. The state lives in AppCore (kernelHandle,
// calendarTime).

// Service number of the kernel for log_on and log_off.
constexpr int kKernelService = protocol::kernelService;
// Longest host name a log-on accepts.
constexpr int kMaxHostNameLength = protocol::maxText;

// Logs off a current kernel first, then logs on to host and instance and asks for the status.
// False, with no message, when the log-on fails; a host name longer than kMaxHostNameLength is
// refused before anything changes.
bool LogOnKernel(const QString& host, int instance, bool flag);
bool IsLoggedOn();
int GetKernelHandle();
// "HOST:N" of the kernel logged on to; empty while logged off.
QString KernelName();
// Counts the kernel's models as its status shows them: it goes up when a status says a model was
// loaded or unloaded (the state enters or leaves "No model loaded"). What was read of the kernel's
// names is stale when it changed.
int KernelModelGeneration();

// Shows the time and state of a status message (kind 32); any other kind, or a message in neither
// layout, changes nothing.
void DecodeKernelStatus(int kind, vmsgMsgPort* message);
void OnKernelDisconnected();

// The Log On command: runs CLogOnDlg and on OK logs on to the chosen kernel.
void onLogOn();

// FormatKernelTime with the calendar flag of the last status message.
QString FormatKernelTime(double t);
