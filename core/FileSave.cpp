#include "core/FileSave.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QDateTime>
#include <QSaveFile>
#endif

namespace FileSave {

#ifdef Q_OS_UNIX
namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

Result failed(int error)
{
    return {false, systemText(error)};
}

// The file a path finally names: symbolic links are followed, even to a target that does not exist
// yet, so that saving through a link writes the linked file and keeps the link.
QString linkTarget(const QString& path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.absoluteFilePath();
}

bool writeAll(int fd, const QByteArray& bytes, int& error)
{
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

} // namespace

Stamp stampOf(const QString& path)
{
    Stamp stamp;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.size = st.st_size;
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    return stamp;
}

Result writeReplacing(const QString& path, const QByteArray& bytes)
{
    const QString target = linkTarget(path);
    const QByteArray targetName = QFile::encodeName(target);

    struct stat old;
    const bool exists = ::stat(targetName.constData(), &old) == 0;
    if (!exists && errno != ENOENT)
        return failed(errno);
    if (exists) {
        if (S_ISDIR(old.st_mode))
            return failed(EISDIR);
        if (!S_ISREG(old.st_mode))
            return {false, QCoreApplication::translate("FileSave", "It is not a regular file.")};
        // The superuser may write anything; a file marked read-only for everybody stays untouched.
        if (::access(targetName.constData(), W_OK) != 0)
            return failed(errno);
        if ((old.st_mode & 0222) == 0)
            return failed(EACCES);
    }

    // A hidden name beside the target, so the rename stays within one file system.
    const QFileInfo info(target);
    QByteArray tempName;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempName =
            QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".save-") +
                              QString::number(QRandomGenerator::global()->generate(), 36));
        fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return failed(errno);
    }
    if (fd < 0)
        return failed(EEXIST);

    int error = 0;
    bool ok = writeAll(fd, bytes, error);
    if (ok && exists) {
        // Owner and group only where the system lets this process keep them; the bits always.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0)
            (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
            error = errno;
            ok = false;
        }
    }
    if (ok && ::fsync(fd) != 0) {
        error = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok && ::rename(tempName.constData(), targetName.constData()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(tempName.constData());
        return failed(error);
    }
    // The rename itself is on disk once the folder is; a folder that cannot be synced changes nothing.
    const int dir = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {true, QString()};
}

#else

Stamp stampOf(const QString& path)
{
    Stamp stamp;
    const QFileInfo info(path);
    if (!info.exists())
        return stamp;
    stamp.exists = true;
    stamp.size = info.size();
    stamp.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
    return stamp;
}

Result writeReplacing(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    ok = ok && file.write(bytes) == bytes.size();
    ok = ok && file.commit();
    if (ok)
        return {true, QString()};
    const QString reason = file.errorString();
    file.cancelWriting();
    return {false, reason};
}

#endif

} // namespace FileSave
