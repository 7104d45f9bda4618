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

signals:
    void changed();

private:
    RecentFileList() = default;
    void store(const QStringList& files);
};
