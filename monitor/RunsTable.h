#pragma once

#include "core/MonitorRecord.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// The rows of the Runs pane as text: one row per monitor, without widgets.
namespace RunsTable {

enum Column : int { Program, Run, State, Started, Elapsed, Fired, Host, Instance, ColumnCount };

// What a row shows of one monitor.
struct RunFacts
{
    QString program;
    int runNumber = 0;
    MonitorState state = MonitorState::Initializing;
    bool stopping = false;
    bool endedByUser = false;
    bool windowClosed = false;
    QDateTime openedAt;
    std::optional<double> startTime;
    double latestTime = 0;
    std::optional<int> fired;
    std::optional<int> total;
    QString host;
    QString instance;
};

// What a cell shows while its value is not known.
inline constexpr char16_t unknown[] = u"\u2013";

QStringList headers();
// name stands in for the program's name until the runner has reported one.
RunFacts factsOf(const MonitorRecord& record, const QString& name);
QString cell(const RunFacts& facts, int column);
QStringList row(const RunFacts& facts);
// "Executing", "Stopping", "Finished", "Ended by the user", ...; "(window closed)" added while the
// monitor has no window.
QString stateText(const RunFacts& facts);

} // namespace RunsTable
