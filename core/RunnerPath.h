#pragma once

#include <QCoreApplication>
#include <QString>

#include <optional>

// The runner's file name on this platform.
#ifdef Q_OS_WIN
inline constexpr char runnerFileName[] = "kelm.exe";
#else
inline constexpr char runnerFileName[] = "kelm";
#endif

// The runner for Parse and Run: "kelmpath" as stored; where the store has none, the runner installed
// in the same folder as this program, if it is there. The default is never written to the store.
std::optional<QString> readRunnerPath(const QString& programFolder = QCoreApplication::applicationDirPath());
// The runner in programFolder, or empty when there is no executable one.
QString installedRunnerPath(const QString& programFolder = QCoreApplication::applicationDirPath());
