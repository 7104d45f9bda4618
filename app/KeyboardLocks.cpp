#include "app/KeyboardLocks.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace KeyboardLocks {

LedReader::LedReader(QString folder, std::chrono::milliseconds rescanAfter)
    : m_folder(std::move(folder)), m_rescanAfter(rescanAfter)
{
}

void LedReader::rescan()
{
    m_files[Caps].clear();
    m_files[Num].clear();
    const QDir leds(m_folder);
    for (const QString& name : leds.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        const std::string file = QFile::encodeName(leds.filePath(name) + QStringLiteral("/brightness")).toStdString();
        if (name.endsWith(QLatin1String("::capslock")))
            m_files[Caps].push_back(file);
        else if (name.endsWith(QLatin1String("::numlock")))
            m_files[Num].push_back(file);
    }
    m_scanned = std::chrono::steady_clock::now();
    m_everScanned = true;
}

bool LedReader::isOn(Lock lock)
{
    // A keyboard plugged in later is found at the next listing.
    if (!m_everScanned || std::chrono::steady_clock::now() - m_scanned >= m_rescanAfter)
        rescan();
    for (const std::string& file : m_files[lock]) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char text[16] = {};
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (n > 0 && std::atoi(text) > 0)
            return true;
    }
    return false;
}

bool isOn(Lock lock)
{
#ifdef Q_OS_LINUX
    static LedReader reader(QStringLiteral("/sys/class/leds"));
    return reader.isOn(lock);
#else
    Q_UNUSED(lock);
    return false;
#endif
}

} // namespace KeyboardLocks
