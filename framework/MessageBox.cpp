#include "framework/MessageBox.h"

#include "framework/AppTitle.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QWidget>

#include <deque>
#include <utility>

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

struct Posted
{
    QString text;
    Icon icon;
    QPointer<QWidget> parent;
    std::function<void()> closed;
};

struct PostedBoxes
{
    std::deque<Posted> waiting;
    bool scheduled = false; // a call of showPosted is on its way
    bool showing = false;   // showPosted is running, one of its boxes is up
};

PostedBoxes& posted()
{
    static PostedBoxes p;
    return p;
}

void showPosted()
{
    PostedBoxes& p = posted();
    p.scheduled = false;
    if (p.showing)
        return;
    p.showing = true;
    // Boxes posted while one is up join the queue and are shown by this loop, in order.
    while (!p.waiting.empty()) {
        Posted next = std::move(p.waiting.front());
        p.waiting.pop_front();
        show(next.text, next.icon, QMessageBox::Ok, next.parent);
        if (next.closed)
            next.closed();
    }
    p.showing = false;
}
} // namespace

QMessageBox::StandardButton show(const QString& text, Icon icon, QMessageBox::StandardButtons buttons, QWidget* parent)
{
    return show(text, icon, buttons, parent, {});
}

QMessageBox::StandardButton show(const QString& text, Icon icon, QMessageBox::StandardButtons buttons, QWidget* parent,
                                 const ButtonTexts& buttonTexts)
{
    Request request{text, AppTitle::get(), icon, buttons, buttonTexts};
    if (hook())
        return hook()(request);
    if (!parent)
        parent = QApplication::activeWindow();
    QMessageBox box(toQt(icon), request.caption, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    for (const auto& [button, label] : buttonTexts) {
        if (QAbstractButton* b = box.button(button))
            b->setText(label);
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void post(const QString& text, Icon icon, QWidget* parent, std::function<void()> closed)
{
    PostedBoxes& p = posted();
    p.waiting.push_back(Posted{text, icon, parent, std::move(closed)});
    if (p.scheduled || p.showing)
        return;
    p.scheduled = true;
    QMetaObject::invokeMethod(qApp, &showPosted, Qt::QueuedConnection);
}

Hook setHook(Hook h)
{
    Hook previous = std::move(hook());
    hook() = std::move(h);
    return previous;
}

} // namespace KMessageBox
