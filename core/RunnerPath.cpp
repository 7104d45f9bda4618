#include "core/RunnerPath.h"

#include "core/CSettingsKey.h"
#include "core/SettingNames.h"

#include <QFileInfo>

QString installedRunnerPath(const QString& programFolder)
{
    if (programFolder.isEmpty())
        return QString();
    const QFileInfo runner(programFolder + QLatin1Char('/') + QLatin1String(runnerFileName));
    return runner.isFile() && runner.isExecutable() ? runner.absoluteFilePath() : QString();
}

std::optional<QString> readRunnerPath(const QString& programFolder)
{
    if (std::optional<QString> stored = readSetting(SettingName::KelmPath))
        return stored;
    const QString installed = installedRunnerPath(programFolder);
    return installed.isEmpty() ? std::nullopt : std::optional<QString>(installed);
}
