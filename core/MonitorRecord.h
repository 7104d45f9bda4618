#pragma once

#include "core/RunnerProcesses.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <set>
#include <vector>

class CMonitorDoc;
class CMonitorConsole;

enum class MonitorState { Initializing = 0, Executing = 1, Finished = 2 };

// One per monitor document; lives exactly as long as its document.
struct MonitorRecord
{
    int socket = 0;
    MonitorState state = MonitorState::Initializing;
    CMonitorDoc* document = nullptr;
    CMonitorConsole* console = nullptr;
    std::optional<QString> programName;
    int currentLine = 0;
    // Where listing line k (1-based) starts: lineStarts[k - 1]; lineCount is lineStarts.size().
    std::vector<int> lineStarts;
    // Per line: the width of what fills its time slot now (blanks, then a time text), and where its
    // reported text starts, counted from the line's start. A time text wider than the slot, or a line
    // number of more than 4 digits, widens the line; the later lines' starts move with it.
    std::vector<int> lineSlots;
    std::vector<int> lineTextOffsets;

    // The run as the Runs pane lists it. runNumber counts the monitors of one program name; 0 until
    // the name has come.
    int runNumber = 0;
    QDateTime openedAt;
    // Simulation times of the first and the latest message that carried one (ExecutionStarted on).
    std::optional<double> startTime;
    double latestTime = 0;
    // Statements fired and statements in all, once the runner reports them.
    std::optional<int> firedStatements;
    std::optional<int> totalStatements;
    // The statement lines that have fired, each counted once.
    std::set<int> firedLines;
    // The runner's process, when KelmDesk started it and it gave its process id.
    std::optional<RunnerProcess> process;
    // Stop was sent and the program has not ended yet.
    bool stopping = false;
    // The user ended the runner's process.
    bool endedByUser = false;
    // The user closed the last window and the document lives on without one.
    bool windowClosed = false;
    // Closed with Stop: the document goes once the program has ended.
    bool closeWhenFinished = false;
};
