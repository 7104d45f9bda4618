#include "framework/RecentFileList.h"

#include "framework/CommandIds.h"

#include <QFileInfo>
#include <QSettings>

namespace {
const char* const groupName = "Recent File List";
}

RecentFileList& RecentFileList::instance()
{
    static RecentFileList list;
    return list;
}

QStringList RecentFileList::files() const
{
    QSettings settings;
    settings.beginGroup(groupName);
    QStringList result;
    for (int i = 1; i <= Cmd::MruCount; ++i) {
        const QString f = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!f.isEmpty() && !result.contains(f, Qt::CaseInsensitive))
            result.append(f);
    }
    return result;
}

void RecentFileList::add(const QString& path)
{
    if (path.isEmpty())
        return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList list = files();
    list.removeAll(absolute);
    list.prepend(absolute);
    store(list);
}

void RecentFileList::remove(const QString& path)
{
    QStringList list = files();
    if (list.removeAll(path) > 0)
        store(list);
}

void RecentFileList::store(const QStringList& list)
{
    QSettings settings;
    settings.beginGroup(groupName);
    for (int i = 1; i <= Cmd::MruCount; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= list.size())
            settings.setValue(key, list.at(i - 1));
        else
            settings.remove(key);
    }
    settings.endGroup();
    settings.sync();
    emit changed();
}
