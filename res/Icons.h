#pragma once

#include <QIcon>

// Tool-bar and window icons: the desktop theme's where it has one, else a drawn one of our own.
namespace Icons {
QIcon command(int id);
// Window icons: Res::MainFrame, Res::ProgramDoc, Res::MonitorDoc.
QIcon window(int resourceId);
} // namespace Icons
