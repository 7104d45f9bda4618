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

    // The live state of statement lines (runner -> KelmDesk), beyond the kinds above; a monitor
    // that does not know them ignores them. Layouts (template letters; docs/protocol.md):
    LiveClock = 520,    // "ri": the kernel's time and state (KernelState) as the runner last saw them
    LiveWhen = 521,     // "ii" line, condition holds (0 or 1), then "sr" per tag: name, current value
    LiveDue = 522,      // "ir": line of an after or at not yet fired, kernel time at which it falls due
    LiveRamp = 523,     // "irr": line of a ramp under way, value written last, target
    LiveWritten = 524,  // "ir": line that fired, the value it wrote
    LiveNotFired = 525, // "i" repeated: lines that never fired, sent at the end (at most 4000 each)
};

// The most line numbers one LiveNotFired message carries.
constexpr int kMaxNotFiredPerMessage = 4000;

// Status of a LineStamp: the statement's work is under way, failed or done.
namespace StampStatus {
enum : int { Active = 1, Failed = 2, Done = 3 };
} // namespace StampStatus
