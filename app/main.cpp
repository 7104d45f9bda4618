#include "app/CKelmDeskApp.h"

#include <QApplication>

#include <QStringList>

int main(int argc, char** argv)
{
    // The switches see the whole argument vector, before Qt takes its own options out of it.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QApplication qapp(argc, argv);
    CKelmDeskApp app;
    if (!app.initInstance(args))
        return app.exitCode();
    return QApplication::exec();
}
