#pragma once

// Kinds of the messages between KelmDesk and its clients, the runners. Plain C++: the runner shares
// this table with the monitor.
enum ClientMessageKind : int {
    FileDiagnostic = 201,
    PrintText = 205,
    ProgramName = 505,
    ListingLine = 506,
    ListingTop = 507,
    LineCurrent = 508,
    LineHighlight = 509,
    LineStamp = 510,
    LineRelease = 511,
    ExecutionStarted = 512,
    ExecutionFinished = 513,
    StopRequest = 514,
    // Optionally one integer: the runner's process id, by which KelmDesk knows a runner it started.
    MonitorOpen = 515,
};

// Status of a LineStamp: the statement's work is under way, failed or done.
namespace StampStatus {
enum : int { Active = 1, Failed = 2, Done = 3 };
} // namespace StampStatus
