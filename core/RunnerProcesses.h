#pragma once

#include <QString>

#include <optional>
#include <vector>

// The runner processes KelmDesk started for Run, so that a runner which does not end after Stop can
// be ended. A process is known by its id and by the moment the system started it: a process id that
// the system has given to another process since is never signalled.
struct RunnerProcess
{
    qint64 pid = 0;
    // The system's start time of the process (clock ticks since boot); 0 where it cannot be read.
    quint64 startTicks = 0;
    QString program; // the program file it runs
    QString host;
    QString instance;
};

class RunnerProcesses
{
public:
    // Notes a runner just started. The oldest entries go when more than MaxWaiting wait for their
    // monitor (runners that never opened one).
    void started(qint64 pid, const QString& program, const QString& host, const QString& instance);
    // The runner with this process id, taken out of the waiting ones: a monitor claims its runner
    // once. None for a process KelmDesk did not start or one that is gone.
    std::optional<RunnerProcess> claim(qint64 pid);
    std::size_t waiting() const { return m_waiting.size(); }

    static constexpr std::size_t MaxWaiting = 64;

    // Whether the very process is still there (not ended, not replaced by another with its id).
    static bool isRunning(const RunnerProcess& process);
    // Asks the process to end (SIGTERM), or ends it at once (SIGKILL). False when it is gone or is
    // no longer the process that was started.
    static bool terminate(const RunnerProcess& process);
    static bool kill(const RunnerProcess& process);
    // The start time the system gives a process id; 0 when there is none.
    static quint64 startTicksOf(qint64 pid);

private:
    std::vector<RunnerProcess> m_waiting;
};
