#include "res/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace Fonts {

QFont programFont(const QFont& base)
{
    const QString family = QStringLiteral("Courier New");
    QFont font = base;
    if (QFontDatabase::families().contains(family)) {
        font.setFamily(family);
    } else {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        if (base.pointSizeF() > 0)
            font.setPointSizeF(base.pointSizeF());
    }
    font.setBold(false);
    return font;
}

} // namespace Fonts
