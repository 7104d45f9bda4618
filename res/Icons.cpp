#include "res/Icons.h"

#include "framework/CommandIds.h"
#include "res/Resource.h"

#include <QString>

namespace Icons {
namespace {

struct CommandIcon
{
    int id;
    const char* themeName; // null: ours alone
    const char* name;      // res/toolbar/NAME.svg
};

const CommandIcon commandIcons[] = {
    {Cmd::FileNew, "document-new", "new"},
    {Cmd::FileOpen, "document-open", "open"},
    {Cmd::FileSave, "document-save", "save"},
    {Cmd::Parse, nullptr, "parse"},
    {Cmd::Run, "media-playback-start", "run"},
    {Cmd::Stop, "process-stop", "stop"},
    {Cmd::EditCut, "edit-cut", "cut"},
    {Cmd::EditCopy, "edit-copy", "copy"},
    {Cmd::EditPaste, "edit-paste", "paste"},
    {Cmd::EditUndo, "edit-undo", "undo"},
    {Cmd::InsertStatement, nullptr, "insert-statement"},
    {Cmd::FilePrint, "document-print", "print"},
};

const CommandIcon* find(int id)
{
    for (const CommandIcon& c : commandIcons) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

} // namespace

QIcon command(int id)
{
    const CommandIcon* c = find(id);
    return c ? QIcon(QStringLiteral(":/kelmdesk/toolbar/%1.svg").arg(QLatin1String(c->name))) : QIcon();
}

QIcon themeCommand(int id)
{
    const CommandIcon* c = find(id);
    // hicolor holds application icons only: looking actions up there finds nothing, slowly.
    const QString theme = QIcon::themeName();
    if (!c || !c->themeName || theme.isEmpty() || theme == QLatin1String("hicolor"))
        return QIcon();
    return QIcon::fromTheme(QLatin1String(c->themeName));
}

QIcon window(int resourceId)
{
    switch (resourceId) {
    case Res::ProgramDoc:
        return QIcon(QStringLiteral(":/kelmdesk/icons/text-x-kelm.svg"));
    case Res::MonitorDoc:
        return QIcon(QStringLiteral(":/kelmdesk/icons/com.vantrel.KelmDesk-monitor.svg"));
    default:
        return QIcon(QStringLiteral(":/kelmdesk/icons/com.vantrel.KelmDesk.svg"));
    }
}

} // namespace Icons
