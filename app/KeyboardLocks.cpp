#include "app/KeyboardLocks.h"

#include <QDir>
#include <QFile>

namespace KeyboardLocks {

bool isOn(Lock lock)
{
#ifdef Q_OS_LINUX
    const QString suffix = lock == Caps ? QStringLiteral("::capslock") : QStringLiteral("::numlock");
    const QDir leds(QStringLiteral("/sys/class/leds"));
    const QStringList names = leds.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : names) {
        if (!name.endsWith(suffix))
            continue;
        QFile f(leds.filePath(name) + QStringLiteral("/brightness"));
        if (f.open(QIODevice::ReadOnly) && f.read(8).trimmed().toInt() > 0)
            return true;
    }
#else
    Q_UNUSED(lock);
#endif
    return false;
}

} // namespace KeyboardLocks
