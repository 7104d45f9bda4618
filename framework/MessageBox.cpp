#include "framework/MessageBox.h"

#include "framework/AppTitle.h"

#include <QApplication>
#include <QWidget>

namespace KMessageBox {
namespace {
Hook& hook()
{
    static Hook h;
    return h;
}

QMessageBox::Icon toQt(Icon icon)
{
    switch (icon) {
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Warning:
        return QMessageBox::Warning;
    case Icon::Stop:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

QMessageBox::StandardButton show(const QString& text, Icon icon, QMessageBox::StandardButtons buttons, QWidget* parent)
{
    Request request{text, AppTitle::get(), icon, buttons};
    if (hook())
        return hook()(request);
    if (!parent)
        parent = QApplication::activeWindow();
    QMessageBox box(toQt(icon), request.caption, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

Hook setHook(Hook h)
{
    Hook previous = std::move(hook());
    hook() = std::move(h);
    return previous;
}

} // namespace KMessageBox
