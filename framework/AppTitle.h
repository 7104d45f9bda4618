#pragma once

#include <QString>

// The application's title: the main frame's caption and every message box's caption. Kept apart from
// QGuiApplication::applicationDisplayName, which some platforms append to every window title.
namespace AppTitle {
void set(const QString& title);
// The title set, else the application name.
QString get();
} // namespace AppTitle
