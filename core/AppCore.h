#pragma once

#include "core/MonitorRecord.h"
#include "core/RunnerProcesses.h"

#include <QHash>
#include <QString>

#include <memory>
#include <vector>

class MainWindowServices;

// What every subsystem shares with the application object: the edit-only flag, the kernel
// connection state and the monitor records. CKelmDeskApp is the one instance in the program;
// tests may make their own.
class AppCore
{
public:
    AppCore();
    virtual ~AppCore();
    AppCore(const AppCore&) = delete;
    AppCore& operator=(const AppCore&) = delete;

    // The live instance, or null.
    static AppCore* instance();

    // Null until a main window registers itself (and in tests without one).
    MainWindowServices* mainWindow() const { return m_mainWindow; }
    void setMainWindow(MainWindowServices* services) { m_mainWindow = services; }

    bool m_bEditOnly = false;
    bool calendarTime = false;
    int kernelHandle = 0;
    // The state of the last kernel status (0 no model, 1 running, 2 paused); -1 when not logged on.
    int kernelState = -1;
    int pendingSocket = 0;
    // In registration order; a record lives as long as its monitor document.
    std::vector<std::unique_ptr<MonitorRecord>> monitors;
    // The runners started for Run whose monitor has not opened yet.
    RunnerProcesses runners;
    // Monitors opened per program name, for the run numbers.
    QHash<QString, int> runsOfProgram;
    // Set once the user agreed to quit: monitors then close without asking.
    bool quitting = false;

private:
    MainWindowServices* m_mainWindow = nullptr;
};
