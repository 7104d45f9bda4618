#include "app/ShellRequests.h"

#include "app/SingleInstance.h"

#include "framework/CChildFrame.h"
#include "framework/CDocument.h"
#include "framework/CView.h"
#include "framework/CommandIds.h"
#include "framework/MessageBox.h"
#include "framework/Printing.h"

#include <QFileInfo>
#include <QObject>
#include <QPointer>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTimer>
#include <QWidget>

#include <cstdio>

#include <utility>

namespace ShellRequests {
namespace {

PrinterHook& printerHook()
{
    static PrinterHook hook;
    return hook;
}

// The program's own switches end the file list of "-open".
bool isProgramSwitch(const QString& token)
{
    static const QStringList switches = {QStringLiteral("-kelm"),     QStringLiteral("-path"),
                                         QStringLiteral("-host"),     QStringLiteral("-instance"),
                                         QStringLiteral("-editonly"), QStringLiteral("-taglist")};
    return switches.contains(token);
}

bool choosePrinter(QPrinter& printer, const QString& requested)
{
    if (printerHook()) {
        printerHook()(printer);
        return true;
    }
    const QString name = requested.isEmpty() ? QPrinterInfo::defaultPrinterName() : requested;
    if (name.isEmpty()) {
        KMessageBox::show(QObject::tr("No default printer is set up."), KMessageBox::Icon::Stop);
        return false;
    }
    if (!QPrinterInfo::availablePrinterNames().contains(name)) {
        KMessageBox::show(QObject::tr("The printer \"%1\" is not available.").arg(name), KMessageBox::Icon::Stop);
        return false;
    }
    printer.setOutputFormat(QPrinter::NativeFormat);
    printer.setPrinterName(name);
    return true;
}

void raise(QWidget* window)
{
    if (!window)
        return;
    if (window->isMinimized())
        window->showNormal();
    window->raise();
    window->activateWindow();
}

} // namespace

ShellRequest parse(const QStringList& args)
{
    ShellRequest request;
    if (args.size() < 2)
        return request;
    const QString& first = args.at(1);
    if (first == QLatin1String("-open")) {
        request.kind = ShellRequest::Open;
        for (int i = 2; i < args.size() && !isProgramSwitch(args.at(i)); ++i)
            request.files << args.at(i);
    } else if (first == QLatin1String("-p") || first == QLatin1String("-pt")) {
        // An empty name would print a new, empty document.
        const bool toNamed = first == QLatin1String("-pt");
        request.kind = !args.value(2).isEmpty() && (!toNamed || !args.value(3).isEmpty()) ? ShellRequest::Print
                                                                                          : ShellRequest::Malformed;
        request.files = args.mid(2, 1);
        if (toNamed)
            request.printer = args.value(3);
    }
    return request;
}

bool printFile(const QString& path, const QString& printerName, const OpenDocument& openDocument)
{
    QPointer<CDocument> document = openDocument(path);
    if (!document)
        return false;
    bool printed = false;
    CView* view = document->views().value(0);
    const CommandTarget::Handler* print = view ? view->findHandler(Cmd::FilePrintDirect) : nullptr;
    if (print && choosePrinter(Printing::printer(), printerName)) {
        print->run();
        printed = true;
    }
    if (document) {
        for (CChildFrame* frame : document->frames())
            frame->close();
    }
    return printed;
}

std::optional<int> process(const QStringList& args, QObject* owner, QWidget* mainWindow,
                           const OpenDocument& openDocument)
{
    const ShellRequest request = parse(args);
    switch (request.kind) {
    case ShellRequest::Malformed:
        std::fputs("usage: kelmdesk -open FILE... | -p FILE | -pt FILE PRINTER\n", stderr);
        return 2;
    case ShellRequest::Print:
        return printFile(request.files.constFirst(), request.printer, openDocument) ? 0 : 1;
    case ShellRequest::None:
    case ShellRequest::Open:
        break;
    }
    const bool open = request.kind == ShellRequest::Open;
    QStringList files;
    for (const QString& f : request.files) {
        if (!f.isEmpty())
            files << QFileInfo(f).absoluteFilePath();
    }

    auto* instance = new SingleInstance(owner);
    switch (instance->start(open, files)) {
    case SingleInstance::Outcome::HandedOver:
        return 0;
    case SingleInstance::Outcome::NoAnswer:
        KMessageBox::show(QObject::tr("KelmDesk is already running but does not answer."), KMessageBox::Icon::Stop);
        return 1;
    case SingleInstance::Outcome::Listening:
    case SingleInstance::Outcome::Alone:
        break;
    }
    QObject::connect(instance, &SingleInstance::openRequested, owner,
                     [openDocument, window = QPointer<QWidget>(mainWindow)](const QStringList& requested) {
                         for (const QString& f : requested)
                             openDocument(f);
                         raise(window);
                     });
    // After the main window is shown: a window opened before would be sized for a frame not yet laid
    // out, and a message about a bad file would come before any window.
    if (!files.isEmpty()) {
        QTimer::singleShot(0, owner, [openDocument, files] {
            for (const QString& f : files)
                openDocument(f);
        });
    }
    return std::nullopt;
}

PrinterHook setPrinterHook(PrinterHook hook)
{
    return std::exchange(printerHook(), std::move(hook));
}

} // namespace ShellRequests
