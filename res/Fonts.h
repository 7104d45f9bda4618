#pragma once

#include <QFont>

namespace Fonts {
// "Courier New" where it is installed, else the system's fixed-pitch font, at base's size; not bold.
QFont programFont(const QFont& base);
} // namespace Fonts
