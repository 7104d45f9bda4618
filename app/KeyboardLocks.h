#pragma once

#include <QString>

#include <chrono>
#include <string>
#include <vector>

// State of the keyboard's lock keys, where the platform tells it (Linux: the keyboard LEDs).
namespace KeyboardLocks {
enum Lock { Caps, Num };
// False when the lock is off or its state cannot be read.
bool isOn(Lock lock);

// Reads the LEDs under a folder laid out as /sys/class/leds. The folder is listed again only after
// rescanAfter, so a look at the locks costs an open and a read per LED file.
class LedReader
{
public:
    explicit LedReader(QString folder, std::chrono::milliseconds rescanAfter = std::chrono::seconds(10));
    bool isOn(Lock lock);

private:
    void rescan();

    QString m_folder;
    std::chrono::milliseconds m_rescanAfter;
    std::chrono::steady_clock::time_point m_scanned;
    bool m_everScanned = false;
    std::vector<std::string> m_files[2]; // the brightness files of each lock
};
} // namespace KeyboardLocks
