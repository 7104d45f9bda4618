#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

// The recent-file list: at most four paths, newest first, kept under the company key outside the
// program's own settings group.
class RecentFileList : public QObject
{
    Q_OBJECT
public:
    static RecentFileList& instance();

    QStringList files() const;
    void add(const QString& path);
    void remove(const QString& path);
    // Forgets the cached list; the next read goes to the store again.
    void reload();
    // Asked before every write: false keeps the list in memory only, leaving a store that cannot be
    // written, or is not a settings file, as it is. None installed: always written.
    static void setStoreCheck(std::function<bool()> check);

signals:
    void changed();

private:
    RecentFileList() = default;
    void store(const QStringList& files);

    std::function<bool()> m_storeCheck;
    mutable QStringList m_files;
    mutable bool m_loaded = false;
};
