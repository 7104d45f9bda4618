#include "app/DesktopRegistration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace DesktopRegistration {
namespace {

QByteArray resource(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > 1024 * 1024)
        return QByteArray();
    return f.readAll();
}

QString canonical(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? path : c;
}

// The desktop entry of the package says "Exec=kelmdesk ...": kept where that finds this program.
QByteArray desktopEntry(const QString& executable)
{
    QByteArray entry = resource(QStringLiteral(":/kelmdesk/desktop/%1.desktop").arg(QLatin1String(AppId)));
    const QString found = QStandardPaths::findExecutable(QStringLiteral("kelmdesk"));
    if (executable.isEmpty() || (!found.isEmpty() && canonical(found) == canonical(executable)))
        return entry;
    const QByteArray from = QByteArrayLiteral("\nExec=kelmdesk ");
    const QByteArray to = "\nExec=" + execArgument(executable).toUtf8() + ' ';
    return entry.replace(from, to);
}

void startDetached(const QString& tool, const QString& folder)
{
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        return;
    QProcess process;
    process.setProgram(program);
    process.setArguments({folder});
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}

} // namespace

QString execArgument(const QString& program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString arg = program;
    arg.replace(QLatin1Char('%'), QLatin1String("%%"));
    const bool quote = std::any_of(arg.cbegin(), arg.cend(), [](QChar c) { return reserved.contains(c); });
    if (quote) {
        QString quoted = QStringLiteral("\"");
        for (QChar c : arg) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        arg = quoted + QLatin1Char('"');
    }
    // The escapes of a string value come on top of the quoting.
    arg.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    arg.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    arg.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    return arg;
}

QList<File> files(const QString& executable)
{
    const QString id = QLatin1String(AppId);
    QList<File> list;
    list.append({QStringLiteral("applications/%1.desktop").arg(id), desktopEntry(executable)});
    list.append({QStringLiteral("mime/packages/%1.xml").arg(id),
                 resource(QStringLiteral(":/kelmdesk/desktop/%1.xml").arg(id))});
    for (const char* icon :
         {"apps/com.vantrel.KelmDesk.svg", "apps/com.vantrel.KelmDesk-monitor.svg", "mimetypes/text-x-kelm.svg"}) {
        const QString name = QFileInfo(QLatin1String(icon)).fileName();
        list.append({QStringLiteral("icons/hicolor/scalable/") + QLatin1String(icon),
                     resource(QStringLiteral(":/kelmdesk/icons/") + name)});
    }
    return list;
}

QStringList registerForUser()
{
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (home.isEmpty())
        return {};
    QStringList written;
    for (const File& file : files(QCoreApplication::applicationFilePath())) {
        if (file.content.isEmpty())
            continue;
        // The copy the desktop sees is the first in the search order, the user's own folder first.
        const QString seen = QStandardPaths::locate(QStandardPaths::GenericDataLocation, file.relativePath);
        if (!seen.isEmpty() && readFile(seen) == file.content)
            continue;
        const QString target = home + QLatin1Char('/') + file.relativePath;
        QDir().mkpath(QFileInfo(target).absolutePath());
        QSaveFile out(target);
        if (out.open(QIODevice::WriteOnly) && out.write(file.content) == file.content.size() && out.commit())
            written << file.relativePath;
    }
    if (!written.filter(QStringLiteral("mime/")).isEmpty())
        startDetached(QStringLiteral("update-mime-database"), home + QStringLiteral("/mime"));
    if (!written.filter(QStringLiteral("applications/")).isEmpty())
        startDetached(QStringLiteral("update-desktop-database"), home + QStringLiteral("/applications"));
    return written;
}

} // namespace DesktopRegistration
