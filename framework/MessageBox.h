#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

class QWidget;

// The one way the program shows a modal message: plain text (file and runner texts are shown
// literally), the application's name as caption. Tests install a hook that answers instead.
namespace KMessageBox {

enum class Icon { None, Information, Warning, Stop, Question };

// Texts that replace the standard texts of some buttons ("Stop" on Yes).
using ButtonTexts = std::vector<std::pair<QMessageBox::StandardButton, QString>>;

struct Request
{
    QString text;
    QString caption;
    Icon icon = Icon::None;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    ButtonTexts buttonTexts;
};

using Hook = std::function<QMessageBox::StandardButton(const Request&)>;

// Returns the button pressed (the hook's answer while a hook is installed).
QMessageBox::StandardButton show(const QString& text, Icon icon = Icon::None,
                                 QMessageBox::StandardButtons buttons = QMessageBox::Ok, QWidget* parent = nullptr);
// The same with buttons of their own texts.
QMessageBox::StandardButton show(const QString& text, Icon icon, QMessageBox::StandardButtons buttons, QWidget* parent,
                                 const ButtonTexts& buttonTexts);

// For a box that must not open inside the caller (a handler of the message port, which would stand still
// while the box is up): shows an OK box once control is back in the event loop, after every box posted
// before it has closed, then calls closed. Boxes posted while one is up wait their turn.
void post(const QString& text, Icon icon, QWidget* parent, std::function<void()> closed = {});

// Installs a hook (or removes it with an empty function); returns the previous one.
Hook setHook(Hook hook);

} // namespace KMessageBox
