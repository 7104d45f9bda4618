#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

// Every test program gets a QApplication (offscreen from CTest) and QStandardPaths' test mode, which
// also moves QSettings to a throwaway location.
int main(int argc, char** argv)
{
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Vantrel");
    QApplication::setApplicationName("kelmdesk");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
