#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class CDocument;
class QObject;
class QPrinter;
class QWidget;

// Requests of the desktop shell. They come first on the command line, before the program's own
// switches: "-open FILE..." (the files up to the first of the program's switches), "-p FILE" and
// "-pt FILE PRINTER".
struct ShellRequest
{
    enum Kind { None, Open, Print, Malformed };
    Kind kind = None;
    QStringList files;
    QString printer; // Print: empty for the default printer
};

namespace ShellRequests {

using OpenDocument = std::function<CDocument*(const QString&)>;

// args is the argument vector, the program's path first.
ShellRequest parse(const QStringList& args);

// The start-up step for the request in args. "-open" hands its files to the running KelmDesk of the
// user, or opens them itself through openDocument once the event loop runs, and from then on takes
// the requests of later ones (as a plain start does when none runs); the listener is a child of owner
// and raises mainWindow.
// Returns the exit code when the process ends here: the files were handed over, or a print is done.
std::optional<int> process(const QStringList& args, QObject* owner, QWidget* mainWindow,
                           const OpenDocument& openDocument);

// Opens path through the document-open hook, prints it without a dialog on the named printer (empty:
// the default one) and closes it. False when nothing was printed; the user has been told why.
bool printFile(const QString& path, const QString& printerName, const OpenDocument& openDocument);

// Tests: the hook sets up the printer instead of the lookup of the system's printers.
using PrinterHook = std::function<void(QPrinter&)>;
PrinterHook setPrinterHook(PrinterHook hook);

} // namespace ShellRequests
