#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// Starting the runner for Parse and Run, and Parse without it in edit-only mode.
class RunnerStart
{
    Q_DECLARE_TR_FUNCTIONS(RunnerStart)
public:
    struct Settings
    {
        QString host;
        QString instance;
        QString runnerPath;
    };
    // The kernel to run against (the default log-on, or asked in the log-on dialog) and the runner's
    // path (asking for it in the Options dialog while it is missing). False when the user declined
    // or no runner path can be stored; then nothing is to be started.
    static bool askSettings(Settings& settings, QWidget* parent);
    // False, after telling the user why, when the runner cannot be started.
    static bool start(const QString& runnerPath, const QStringList& arguments, QWidget* parent);
    // start for Run: the process is noted (AppCore::runners) with the program and the kernel, so
    // that its monitor can end it after a Stop it does not answer.
    static bool startRun(const Settings& settings, const QString& program, QWidget* parent);
    // What the runner does with -parse, in this process: the saved file at nativePath is read and
    // reported on the same way; goToLine gets the line of a fault once the message is shown.
    static void checkHere(const QString& nativePath, QWidget* parent, std::function<void(int line)> goToLine);
};
