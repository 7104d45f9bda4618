#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QStandardPaths>

#include <cstdlib>
#include <string>

#include <sys/stat.h>

namespace {
std::string& homeDir()
{
    static std::string dir;
    return dir;
}

void removeHome()
{
    if (!homeDir().empty())
        QDir(QString::fromStdString(homeDir())).removeRecursively();
}

// CTest runs test programs side by side: each gets a home of its own, and with it a settings store,
// desktop files and a runtime folder of its own, before anything reads them.
void isolateHome()
{
    std::string dir = QDir::tempPath().toStdString() + "/kelmdesk-tests-XXXXXX";
    if (!mkdtemp(dir.data()))
        return;
    homeDir() = dir;
    qputenv("HOME", QByteArray::fromStdString(dir));
    // Programs the tests start inherit these: their settings, desktop files and single-instance socket
    // stay in the throwaway home too.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir + "/.config"));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir + "/.local/share"));
    const std::string runtime = dir + "/runtime";
    if (mkdir(runtime.c_str(), 0700) == 0)
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime));
    std::atexit(removeHome);
}
} // namespace

// Every test program gets a QApplication (offscreen from CTest) and QStandardPaths' test mode, which
// also moves QSettings to a throwaway location.
int main(int argc, char** argv)
{
    isolateHome();
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Vantrel");
    QApplication::setApplicationName("kelmdesk");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
