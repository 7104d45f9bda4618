#pragma once

#include <QIcon>

// Tool-bar icons: our own SVG; the desktop theme's, where it has one, replaces it once the main
// window shows (looking a name up in a theme can take milliseconds). Window icons: our own SVG,
// the same as installed into the desktop's icon theme.
namespace Icons {
QIcon command(int id);
// The desktop theme's icon for a command; null when the theme has none.
QIcon themeCommand(int id);
// Window icons: Res::MainFrame, Res::ProgramDoc, Res::MonitorDoc.
QIcon window(int resourceId);
} // namespace Icons
