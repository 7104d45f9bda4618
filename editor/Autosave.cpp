#include "editor/Autosave.h"

#include "core/FileSave.h"
#include "editor/ProgramText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <memory>

namespace Autosave {

namespace {

constexpr char Magic[] = "KelmDesk autosave 1";
// The lock file keeps the name earlier versions gave it, so that they and this one see each other.
const QString LockName = QStringLiteral("session.lock");
const QString Suffix = QStringLiteral(".autosave");

// This process's folder, created and locked on the first write; removed at exit when empty.
class ProcessFolder
{
public:
    ~ProcessFolder()
    {
        if (!m_lock)
            return;
        m_lock->unlock();
        QDir(m_dir).rmdir(m_dir);
    }

    QString dir()
    {
        if (m_lock)
            return m_dir;
        const QString folder = root() + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (!QDir().mkpath(folder))
            return QString();
        auto lock = std::make_unique<QLockFile>(folder + QLatin1Char('/') + LockName);
        lock->setStaleLockTime(0); // held for the life of the process, however long
        if (!lock->tryLock(0))
            return QString();
        m_lock = std::move(lock);
        m_dir = folder;
        return m_dir;
    }

    int next() { return ++m_count; }
    // The folder when created, else empty; creates nothing.
    QString existing() const { return m_dir; }

private:
    std::unique_ptr<QLockFile> m_lock;
    QString m_dir;
    int m_count = 0;
};

ProcessFolder& processFolder()
{
    static ProcessFolder s;
    return s;
}

std::vector<std::unique_ptr<QLockFile>>& claims()
{
    static std::vector<std::unique_ptr<QLockFile>> c;
    return c;
}

void removeFolderIfEmpty(const QString& folder)
{
    QDir d(folder);
    const QStringList left = d.entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden);
    if (std::any_of(left.begin(), left.end(), [](const QString& f) { return f != LockName; }))
        return;
    // Our own process folder (and its lock) stays while the process runs.
    if (processFolder().existing() == d.absolutePath())
        return;
    for (auto it = claims().begin(); it != claims().end(); ++it) {
        if (QFileInfo((*it)->fileName()).absolutePath() == d.absolutePath()) {
            (*it)->unlock();
            claims().erase(it);
            break;
        }
    }
    d.remove(LockName);
    d.rmdir(d.absolutePath());
}

} // namespace

QString root()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/autosave");
}

QString write(const QString& sideFile, const QString& originalPath, const QString& encoding, const QString& text)
{
    QString target = sideFile;
    if (target.isEmpty()) {
        const QString dir = processFolder().dir();
        if (dir.isEmpty())
            return QString();
        target = dir + QLatin1Char('/') + QString::number(processFolder().next()) + Suffix;
    }
    QByteArray bytes = Magic;
    bytes += "\npath=" + QUrl::toPercentEncoding(originalPath) + "\nencoding=" + encoding.toLatin1() + "\n\n";
    bytes += text.toUtf8();
    // A side file is whole or not there: a full disk keeps the previous one rather than a cut-short copy.
    return FileSave::writeReplacing(target, bytes).ok ? target : QString();
}

void remove(const QString& sideFile)
{
    if (sideFile.isEmpty())
        return;
    QFile::remove(sideFile);
    removeFolderIfEmpty(QFileInfo(sideFile).absolutePath());
}

bool read(const QString& sideFile, Entry& entry)
{
    QFile f(sideFile);
    if (!f.open(QIODevice::ReadOnly) || f.size() > ProgramText::MaxFileSize * 4)
        return false;
    const QByteArray bytes = f.readAll();
    const int body = bytes.indexOf("\n\n");
    if (body < 0)
        return false;
    const QList<QByteArray> header = bytes.left(body).split('\n');
    if (header.value(0) != Magic)
        return false;
    entry = Entry{};
    entry.sideFile = sideFile;
    for (const QByteArray& line : header) {
        if (line.startsWith("path="))
            entry.originalPath = QUrl::fromPercentEncoding(line.mid(5));
        else if (line.startsWith("encoding="))
            entry.encoding = QString::fromLatin1(line.mid(9));
    }
    entry.text = QString::fromUtf8(bytes.mid(body + 2));
    entry.time = QFileInfo(sideFile).lastModified();
    return true;
}

std::vector<Entry> claimOrphans()
{
    std::vector<Entry> out;
    const QDir base(root());
    const QString own = processFolder().existing();
    for (const QFileInfo& folder : base.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (folder.absoluteFilePath() == own)
            continue;
        // A lock whose process is gone is stale and taken over; a live process's lock is not.
        auto lock = std::make_unique<QLockFile>(folder.absoluteFilePath() + QLatin1Char('/') + LockName);
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0))
            continue;
        bool any = false;
        const QDir d(folder.absoluteFilePath());
        for (const QFileInfo& file : d.entryInfoList({QLatin1Char('*') + Suffix}, QDir::Files)) {
            Entry e;
            if (read(file.absoluteFilePath(), e)) {
                out.push_back(std::move(e));
                any = true;
            }
        }
        if (any) {
            claims().push_back(std::move(lock));
        } else {
            lock->unlock();
            removeFolderIfEmpty(folder.absoluteFilePath());
        }
    }
    std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.time < b.time; });
    return out;
}

void releaseClaims()
{
    for (auto& lock : claims())
        lock->unlock();
    claims().clear();
}

QString firstDifference(const Entry& entry, int maxChars)
{
    QStringList original;
    if (!entry.originalPath.isEmpty()) {
        ProgramText::ReadResult r = ProgramText::readFile(entry.originalPath);
        if (r.bytes) {
            ProgramText::DecodeResult d = ProgramText::decode(*r.bytes, entry.originalPath);
            if (d.decoded)
                original = d.decoded->text.split(QLatin1Char('\n'));
        }
    }
    if (original.isEmpty())
        return QStringLiteral("new file");
    const QStringList lines = entry.text.split(QLatin1Char('\n'));
    const int n = int(std::max(lines.size(), original.size()));
    for (int i = 0; i < n; ++i) {
        if (i < lines.size() && i < original.size() && lines[i] == original[i])
            continue;
        QString shown = i < lines.size() ? lines[i] : QStringLiteral("(removed)");
        if (shown.size() > maxChars)
            shown = shown.left(maxChars) + QStringLiteral("...");
        return QStringLiteral("line %1: %2").arg(i + 1).arg(shown);
    }
    return QStringLiteral("no difference");
}

} // namespace Autosave
