#pragma once

#include <QIcon>

// Tool-bar icons: the desktop theme's where it has one, else our own SVG. Window icons: our own SVG,
// the same as installed into the desktop's icon theme.
namespace Icons {
QIcon command(int id);
// Window icons: Res::MainFrame, Res::ProgramDoc, Res::MonitorDoc.
QIcon window(int resourceId);
} // namespace Icons
