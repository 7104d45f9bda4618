#include "monitor/RunsTable.h"

#include "kernel/KernelTime.h"

#include <QCoreApplication>

#include <algorithm>

namespace RunsTable {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("RunsTable", text);
}

QString orUnknown(const QString& text)
{
    return text.isEmpty() ? QString::fromUtf16(unknown) : text;
}

} // namespace

QStringList headers()
{
    return {tr("Program"), tr("Run"),   tr("State"),       tr("Started"),
            tr("Elapsed"), tr("Fired"), tr("Kernel host"), tr("Instance")};
}

RunFacts factsOf(const MonitorRecord& record, const QString& name)
{
    RunFacts facts;
    facts.program = record.programName.value_or(name);
    facts.runNumber = record.runNumber;
    facts.state = record.state;
    facts.stopping = record.stopping;
    facts.endedByUser = record.endedByUser;
    facts.windowClosed = record.windowClosed;
    facts.openedAt = record.openedAt;
    facts.startTime = record.startTime;
    facts.latestTime = record.latestTime;
    facts.fired = record.firedStatements;
    facts.total = record.totalStatements;
    if (record.process) {
        facts.host = record.process->host;
        facts.instance = record.process->instance;
    }
    return facts;
}

QString stateText(const RunFacts& facts)
{
    QString text;
    if (facts.state == MonitorState::Finished)
        text = facts.endedByUser ? tr("Ended by the user") : tr("Finished");
    else if (facts.stopping)
        text = tr("Stopping");
    else if (facts.state == MonitorState::Executing)
        text = tr("Executing");
    else
        text = tr("Initializing");
    if (facts.windowClosed)
        text += tr(" (window closed)");
    return text;
}

QString cell(const RunFacts& facts, int column)
{
    switch (column) {
    case Program:
        return facts.program;
    case Run:
        return facts.runNumber > 0 ? QString::number(facts.runNumber) : QString::fromUtf16(unknown);
    case State:
        return stateText(facts);
    case Started:
        return facts.openedAt.isValid() ? facts.openedAt.toString(QStringLiteral("HH:mm:ss"))
                                        : QString::fromUtf16(unknown);
    case Elapsed:
        if (!facts.startTime)
            return QString::fromUtf16(unknown);
        return formatElapsedTime(std::max(0.0, facts.latestTime - *facts.startTime));
    case Fired:
        if (!facts.fired || !facts.total)
            return QString::fromUtf16(unknown);
        return tr("%1 of %2").arg(*facts.fired).arg(*facts.total);
    case Host:
        return orUnknown(facts.host);
    case Instance:
        return orUnknown(facts.instance);
    default:
        return QString();
    }
}

QStringList row(const RunFacts& facts)
{
    QStringList cells;
    for (int c = 0; c < ColumnCount; ++c)
        cells << cell(facts, c);
    return cells;
}

} // namespace RunsTable
