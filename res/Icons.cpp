#include "res/Icons.h"

#include "framework/CommandIds.h"
#include "res/Resource.h"

#include <QString>

namespace Icons {
namespace {

QIcon bundled(const char* name)
{
    return QIcon(QStringLiteral(":/kelmdesk/toolbar/%1.svg").arg(QLatin1String(name)));
}

QIcon themed(const char* themeName, const char* name)
{
    return QIcon::fromTheme(QLatin1String(themeName), bundled(name));
}

} // namespace

QIcon command(int id)
{
    switch (id) {
    case Cmd::FileNew:
        return themed("document-new", "new");
    case Cmd::FileOpen:
        return themed("document-open", "open");
    case Cmd::FileSave:
        return themed("document-save", "save");
    case Cmd::Parse:
        return bundled("parse");
    case Cmd::Run:
        return themed("media-playback-start", "run");
    case Cmd::Stop:
        return themed("process-stop", "stop");
    case Cmd::EditCut:
        return themed("edit-cut", "cut");
    case Cmd::EditCopy:
        return themed("edit-copy", "copy");
    case Cmd::EditPaste:
        return themed("edit-paste", "paste");
    case Cmd::EditUndo:
        return themed("edit-undo", "undo");
    case Cmd::InsertStatement:
        return bundled("insert-statement");
    case Cmd::FilePrint:
        return themed("document-print", "print");
    default:
        return QIcon();
    }
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
