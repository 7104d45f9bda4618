#pragma once

#include <QByteArray>
#include <QString>

// Writing a file so that a failure never damages what was there, and telling what the file on disk
// was when it was last read or written.
namespace FileSave {

// Identity and state of the file behind a path (symbolic links followed). Two stamps differ when the
// file was rewritten, replaced or removed in between.
struct Stamp
{
    bool exists = false;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    quint64 device = 0;
    quint64 inode = 0;

    bool operator==(const Stamp& other) const
    {
        return exists == other.exists && size == other.size && modifiedNs == other.modifiedNs &&
               device == other.device && inode == other.inode;
    }
    bool operator!=(const Stamp& other) const { return !(*this == other); }
};
Stamp stampOf(const QString& path);

struct Result
{
    bool ok = false;
    // The system's own text for the failure ("No space left on device"), empty on success.
    QString reason;
};

// Writes bytes to a new file in the folder of path, puts it on disk, and renames it over path, so
// path holds either its old bytes or all of the new ones. A symbolic link is followed and kept: the
// file it points to is replaced. The new file gets the old one's permission bits (and, where the
// system allows, its owner and group); a new file gets the usual ones for the process's umask. A
// file whose permission bits let nobody write it is not replaced, even for the superuser.
Result writeReplacing(const QString& path, const QByteArray& bytes);

} // namespace FileSave
