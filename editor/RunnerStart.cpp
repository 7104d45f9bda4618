#include "editor/RunnerStart.h"

#include "core/AppCore.h"
#include "core/CSettingsKey.h"
#include "core/MainWindowServices.h"
#include "core/RunnerPath.h"
#include "core/SettingNames.h"
#include "editor/ProgramText.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "kernel/CLogOnDlg.h"
#include "lang/Program.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <optional>
#include <string>

namespace {

// Where the Options dialog can store a runner path at all.
bool canStoreRunnerPath()
{
    const AppCore* app = AppCore::instance();
    if (app && app->m_bEditOnly)
        return false;
    CSettingsKey key;
    return key.open(CSettingsKey::Write);
}

} // namespace

bool RunnerStart::askSettings(Settings& settings, QWidget* parent)
{
    {
        CSettingsKey key;
        key.open(CSettingsKey::Read);
        if (key.read(SettingName::DefLogon).value_or(QString()) == QLatin1String("on")) {
            settings.host = key.read(SettingName::DefHostname).value_or(QString::fromLatin1(SettingDefault::Hostname));
            settings.instance =
                key.read(SettingName::DefInstance).value_or(QString::fromLatin1(SettingDefault::Instance));
        } else {
            key.close();
            CLogOnDlg dlg(parent);
            if (Modal::run(dlg) != QDialog::Accepted)
                return false;
            settings.host = dlg.hostname;
            settings.instance = dlg.instance;
        }
    }
    for (;;) {
        if (std::optional<QString> path = readRunnerPath()) {
            settings.runnerPath = *path;
            return true;
        }
        KMessageBox::show(tr("The %1 path does not exist or has not been set.").arg(QLatin1String(runnerFileName)),
                          KMessageBox::Icon::Stop, QMessageBox::Ok, parent);
        // The Options dialog could never end the loop here.
        if (!canStoreRunnerPath())
            return false;
        // Without a main window there is nobody to ask for a path.
        AppCore* app = AppCore::instance();
        MainWindowServices* window = app ? app->mainWindow() : nullptr;
        if (!window)
            return false;
        window->showOptionsDialog();
    }
}

namespace {

bool startDetached(const QString& runnerPath, const QStringList& arguments, QWidget* parent, qint64* pid)
{
    // On this platform argument 0 of the started process is the runner path; "kelm" cannot be given.
    QProcess process;
    process.setProgram(runnerPath);
    process.setArguments(arguments);
    if (process.startDetached(pid))
        return true;
    // Qt puts the failed call in front of the system's text ("execv: No such file or directory").
    QString reason = process.errorString();
    reason = reason.mid(reason.lastIndexOf(QLatin1String(": ")) + 1).trimmed();
    const QString shown = QDir::toNativeSeparators(runnerPath);
    qWarning("Cannot start the runner %s: %s", qUtf8Printable(shown), qUtf8Printable(reason));
    KMessageBox::show(RunnerStart::tr("Cannot start the runner %1.\n%2").arg(shown, reason), KMessageBox::Icon::Stop,
                      QMessageBox::Ok, parent);
    return false;
}

} // namespace

bool RunnerStart::start(const QString& runnerPath, const QStringList& arguments, QWidget* parent)
{
    return startDetached(runnerPath, arguments, parent, nullptr);
}

bool RunnerStart::startRun(const Settings& settings, const QString& program, QWidget* parent)
{
    qint64 pid = 0;
    if (!startDetached(settings.runnerPath, ProgramText::runArguments(settings.host, settings.instance, program),
                       parent, &pid))
        return false;
    if (AppCore* app = AppCore::instance())
        app->runners.started(pid, program, settings.host, settings.instance);
    return true;
}

void RunnerStart::checkHere(const QString& nativePath, QWidget* parent, std::function<void(int line)> goToLine)
{
    // The box and the caret follow as for a diagnostic of the runner.
    const std::string path = QFile::encodeName(nativePath).toStdString();
    const std::string name = kelm::fileNameOf(path);
    kelm::Program program;
    std::string error;
    const kelm::ParseReport report = kelm::loadProgram(path, program, error)
                                         ? kelm::parseReport(name, program)
                                         : kelm::ParseReport{-1, kelm::unreadableText(name, error)};
    const QString text = QString::fromStdString(kelm::displayText(report.text, kelm::kMaxShownText));
    const int line = report.line;
    KMessageBox::post(text, KMessageBox::Icon::None, parent, [goToLine = std::move(goToLine), line] {
        if (line != -1)
            goToLine(line);
    });
}
