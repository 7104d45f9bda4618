#pragma once

#include <QProcess>

#include <csignal>

#include <sys/prctl.h>

// A process the test starts is killed when the test's process ends, even by a crash or a timeout's
// SIGKILL: no simulator, runner or KelmDesk is left holding a port, a socket or a core.
inline void endWithTest(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}
