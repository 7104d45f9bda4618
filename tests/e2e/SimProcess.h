#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// Pumps events until done() holds or timeoutMs (scaled under the sanitizers) pass; returns done().
bool waitFor(const std::function<bool()>& done, int timeoutMs = 20000);

// A base port with base + 0 .. base + count - 1 free on loopback at the time of the call; 0 if none.
int freePortBase(int count);

// One norvexsim process on loopback; NORVEX_PORT_BASE is given to it, not taken from the test.
class SimProcess
{
public:
    SimProcess(int portBase, const QStringList& arguments);
    ~SimProcess();

    // True once the simulator announced that it listens.
    bool waitUntilListening();
    bool waitForLog(const QString& text);
    QString log();
    qint64 pid() const { return m_process.processId(); }
    void kill();

private:
    QProcess m_process;
    QString m_log;
};
