#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/mount.h>

// A small tmpfs mounted on a fresh folder, for faults that only a real file system gives: a full
// disk, a read-only file system. Mounting needs root (CI runs as root); elsewhere ok() is false and
// why() says so, and the test skips. Unmounted (lazily, so an open file cannot keep it) on destruction.
class ScratchMount
{
public:
    ScratchMount(const QString& folder, const char* size)
    {
        QDir().mkpath(folder);
        m_path = QFile::encodeName(folder);
        const std::string options = std::string("size=") + size + ",mode=0777";
        if (::mount("kelmdesk-test", m_path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
            m_mounted = true;
        else
            m_why = std::string("cannot mount a tmpfs for this fault here (") + std::strerror(errno) +
                    "); run the test as root to include it";
    }
    ~ScratchMount()
    {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    bool ok() const { return m_mounted; }
    const std::string& why() const { return m_why; }

    // Makes the whole file system read-only, as a remount would after an error.
    bool makeReadOnly()
    {
        return m_mounted && ::mount(nullptr, m_path.constData(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                                    nullptr) == 0;
    }

private:
    QByteArray m_path;
    bool m_mounted = false;
    std::string m_why;
};
