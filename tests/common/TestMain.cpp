#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QStandardPaths>

#include <cstdlib>
#include <string>

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

// CTest runs test programs side by side: each gets a home of its own, and with it a settings store
// of its own, before anything reads it.
void isolateHome()
{
    std::string dir = QDir::tempPath().toStdString() + "/kelmdesk-tests-XXXXXX";
    if (!mkdtemp(dir.data()))
        return;
    homeDir() = dir;
    qputenv("HOME", QByteArray::fromStdString(dir));
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
