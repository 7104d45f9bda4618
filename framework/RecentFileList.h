#pragma once

#include <QObject>
#include <QStringList>

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

signals:
    void changed();

private:
    RecentFileList() = default;
    void store(const QStringList& files);

    mutable QStringList m_files;
    mutable bool m_loaded = false;
};
