// Loaded into a real KelmDesk (LD_PRELOAD) by the recovery tests. Once a program view is shown, it
// types the text of KELMDESK_TYPIST_TEXT into it as key events, as a user at the keyboard would, and
// prints "TYPED" on standard output. It touches nothing else.

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTimer>

#include <cstdio>

namespace {

void typeInto(QPlainTextEdit* edit, const QString& text)
{
    for (const QChar c : text) {
        const bool enter = c == QLatin1Char('\n');
        const int key = enter ? int(Qt::Key_Return) : int(c.toUpper().unicode());
        const QString typed = enter ? QStringLiteral("\r") : QString(c);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, typed);
        QCoreApplication::sendEvent(edit, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, typed);
        QCoreApplication::sendEvent(edit, &release);
    }
}

void typeOnceShown()
{
    auto* poll = new QTimer(QCoreApplication::instance());
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll] {
        for (QWidget* w : QApplication::allWidgets()) {
            auto* edit = qobject_cast<QPlainTextEdit*>(w);
            if (!edit || !edit->isVisible() || edit->isReadOnly() || edit->document()->isEmpty())
                continue;
            poll->stop();
            poll->deleteLater();
            typeInto(edit, qEnvironmentVariable("KELMDESK_TYPIST_TEXT"));
            std::printf("TYPED\n");
            std::fflush(stdout);
            return;
        }
    });
    poll->start();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(typeOnceShown)
