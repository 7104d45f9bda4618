#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The program file type and KelmDesk's desktop entry, registered with the desktop for the user:
// the desktop entry, the MIME type text/x-kelm and the icons, each written under the user's data
// folder when the copy the desktop would see is missing or differs. Only these files are written; the
// desktop's own caches are then rebuilt by its local tools where they are installed.
namespace DesktopRegistration {

constexpr const char* AppId = "com.vantrel.KelmDesk";
constexpr const char* MimeType = "text/x-kelm";

struct File
{
    QString relativePath; // below a data folder, e.g. "applications/com.vantrel.KelmDesk.desktop"
    QByteArray content;
};

// What this executable registers. Exec names it as "kelmdesk" when that is what the search path
// finds, else by its full path.
QList<File> files(const QString& executable);
// The Exec argument for a program path, quoted and escaped as desktop entries need it.
QString execArgument(const QString& program);

// Writes what is missing or outdated; returns the relative paths written. Tools are started without
// waiting for them.
QStringList registerForUser();

} // namespace DesktopRegistration
