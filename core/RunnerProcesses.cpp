#include "core/RunnerProcesses.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/types.h>
#endif

namespace {

#ifdef Q_OS_UNIX
bool sameProcess(const RunnerProcess& process)
{
    if (process.pid <= 0)
        return false;
    const quint64 now = RunnerProcesses::startTicksOf(process.pid);
    return now != 0 && now == process.startTicks;
}

bool sendSignal(const RunnerProcess& process, int signal)
{
    return sameProcess(process) && ::kill(static_cast<pid_t>(process.pid), signal) == 0;
}
#endif

} // namespace

void RunnerProcesses::started(qint64 pid, const QString& program, const QString& host, const QString& instance)
{
    if (pid <= 0)
        return;
    m_waiting.erase(std::remove_if(m_waiting.begin(), m_waiting.end(),
                                   [pid](const RunnerProcess& p) { return p.pid == pid || !isRunning(p); }),
                    m_waiting.end());
    if (m_waiting.size() >= MaxWaiting)
        m_waiting.erase(m_waiting.begin());
    m_waiting.push_back(RunnerProcess{pid, startTicksOf(pid), program, host, instance});
}

std::optional<RunnerProcess> RunnerProcesses::claim(qint64 pid)
{
    auto it = std::find_if(m_waiting.begin(), m_waiting.end(), [pid](const RunnerProcess& p) { return p.pid == pid; });
    if (it == m_waiting.end())
        return std::nullopt;
    RunnerProcess found = *it;
    m_waiting.erase(it);
    if (!isRunning(found))
        return std::nullopt;
    return found;
}

quint64 RunnerProcesses::startTicksOf(qint64 pid)
{
#ifdef Q_OS_UNIX
    if (pid <= 0)
        return 0;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.read(4096);
    // The command name in parentheses may hold blanks and parentheses: fields count from the last ')'.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // After the name: state is field 3, the start time field 22.
    constexpr int startField = 22 - 3;
    if (fields.size() <= startField || fields.at(0) == "Z")
        return 0;
    bool ok = false;
    const quint64 ticks = fields.at(startField).toULongLong(&ok);
    return ok ? ticks : 0;
#else
    Q_UNUSED(pid);
    return 0;
#endif
}

bool RunnerProcesses::isRunning(const RunnerProcess& process)
{
#ifdef Q_OS_UNIX
    return sameProcess(process);
#else
    Q_UNUSED(process);
    return false;
#endif
}

bool RunnerProcesses::terminate(const RunnerProcess& process)
{
#ifdef Q_OS_UNIX
    return sendSignal(process, SIGTERM);
#else
    Q_UNUSED(process);
    return false;
#endif
}

bool RunnerProcesses::kill(const RunnerProcess& process)
{
#ifdef Q_OS_UNIX
    return sendSignal(process, SIGKILL);
#else
    Q_UNUSED(process);
    return false;
#endif
}
