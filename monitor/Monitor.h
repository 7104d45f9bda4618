#pragma once

#include "core/MonitorRecord.h"
#include "protocol/ClientMessageKind.h"
#include "monitor/MonitorText.h"

#include <QString>

class CMonitorDoc;
class vmsgMsgPort;

using MonitorText::LineMark;

// What each client message does to its monitor. All of it runs on the user-interface thread, inside
// the message port's scheduler.

// The live (not finished) monitor of a client handle, or null.
MonitorRecord* FindMonitorBySocket(int handle);
// The record of a monitor document, or null.
MonitorRecord* FindMonitorByDocument(const CMonitorDoc* document);

// Dispatches one client message by kind; kinds that are not a monitor's, and messages whose values
// are not of the kind's layout, are ignored.
void HandleMonitorMessage(MonitorRecord& record, int kind, vmsgMsgPort* message);

// One console line "[timeText] text", ending in CR LF, at the end of the console.
void AppendConsoleLine(MonitorRecord& record, const QString& text, const QString& timeText);
// One listing line: the prefix with number, then text (its comment part in green).
void AppendListingLine(MonitorRecord& record, int number, const QString& text);
// Recolours listing line k; t is the time put into its slot (current and stamp marks). Lines
// outside the listing are ignored.
void MarkLine(MonitorRecord& record, int k, LineMark mode, double t = 0, int status = 0);
void ReleaseCurrentLine(MonitorRecord& record);
void SetMonitorState(MonitorRecord& record, MonitorState state);
// Asks the client to stop (StopRequest); the monitor waits for its end.
void SendStop(MonitorRecord& record);
// The same for a client whose monitor may be gone (quitting).
void SendStopRequest(int socket);
// The monitor of a runner the user ended: its console says so, and it is finished.
void FinishEndedByUser(MonitorRecord& record);
