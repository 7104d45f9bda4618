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
    if (!m_loaded) {
        QSettings settings;
        settings.beginGroup(QLatin1String(groupName));
        m_files.clear();
        for (int i = 1; i <= Cmd::MruCount; ++i) {
            const QString f = settings.value(QStringLiteral("File%1").arg(i)).toString();
            if (!f.isEmpty() && !m_files.contains(f))
                m_files.append(f);
        }
        m_loaded = true;
    }
    return m_files;
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

void RecentFileList::setStoreCheck(std::function<bool()> check)
{
    instance().m_storeCheck = std::move(check);
}

void RecentFileList::reload()
{
    m_loaded = false;
    emit changed();
}

void RecentFileList::store(const QStringList& list)
{
    m_files = list.mid(0, Cmd::MruCount);
    m_loaded = true;
    if (m_storeCheck && !m_storeCheck()) {
        emit changed();
        return;
    }
    QSettings settings;
    settings.beginGroup(QLatin1String(groupName));
    for (int i = 1; i <= Cmd::MruCount; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= m_files.size())
            settings.setValue(key, m_files.at(i - 1));
        else
            settings.remove(key);
    }
    settings.endGroup();
    settings.sync();
    emit changed();
}
