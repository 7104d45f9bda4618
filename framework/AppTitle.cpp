#include "framework/AppTitle.h"

#include <QCoreApplication>

namespace AppTitle {
namespace {
QString& title()
{
    static QString t;
    return t;
}
} // namespace

void set(const QString& t)
{
    title() = t;
}

QString get()
{
    return title().isEmpty() ? QCoreApplication::applicationName() : title();
}
} // namespace AppTitle
