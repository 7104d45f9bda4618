#include "core/MainWindowServices.h"

#include "core/AppCore.h"

void setMainWindowPane(int pane, const QString& text)
{
    AppCore* core = AppCore::instance();
    if (MainWindowServices* w = core ? core->mainWindow() : nullptr)
        w->setPaneText(pane, text);
}

QWidget* mainWindowDialogParent()
{
    AppCore* core = AppCore::instance();
    MainWindowServices* w = core ? core->mainWindow() : nullptr;
    return w ? w->dialogParent() : nullptr;
}
