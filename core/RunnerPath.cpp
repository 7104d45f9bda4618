#include "core/RunnerPath.h"

#include "core/CSettingsKey.h"
#include "core/SettingNames.h"

#include <QFileInfo>

QString installedRunnerPath(const QString& programFolder)
{
    if (programFolder.isEmpty())
        return QString();
#ifdef Q_OS_WIN
    const QFileInfo runner(programFolder + QStringLiteral("/kelm.exe"));
#else
    const QFileInfo runner(programFolder + QStringLiteral("/kelm"));
#endif
    return runner.isFile() && runner.isExecutable() ? runner.absoluteFilePath() : QString();
}

std::optional<QString> readRunnerPath(const QString& programFolder)
{
    if (std::optional<QString> stored = readSetting(SettingName::KelmPath))
        return stored;
    const QString installed = installedRunnerPath(programFolder);
    return installed.isEmpty() ? std::nullopt : std::optional<QString>(installed);
}
