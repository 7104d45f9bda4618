#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "core/CSettingsKey.h"
#include "app/ShellRequests.h"
#include "editor/ProgramText.h"
#include "framework/CDocument.h"
#include "framework/CommandIds.h"
#include "framework/DocTemplate.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "framework/Printing.h"

#include "tests/common/QtPrinting.h"
#include "tests/common/TestSupport.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// Runs a poppler tool; its standard output, or nothing when it failed.
std::optional<QByteArray> run(const QString& tool, const QStringList& args)
{
    if (QStandardPaths::findExecutable(tool).isEmpty())
        return std::nullopt;
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return std::nullopt;
    return p.readAllStandardOutput();
}

// The pages of a PDF as pictures, rendered by another program than the one that wrote them.
QList<QImage> pages(const QString& pdf)
{
    const QString prefix = pdf + QStringLiteral("-page");
    if (!run(QStringLiteral("pdftoppm"), {"-r", "50", "-png", pdf, prefix}))
        return {};
    QList<QImage> images;
    QDir folder(QFileInfo(pdf).absolutePath());
    const QStringList files = folder.entryList({QFileInfo(prefix).fileName() + "*.png"}, QDir::Files, QDir::Name);
    for (const QString& f : files)
        images << QImage(folder.filePath(f));
    return images;
}

class PrintRequestTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(QStandardPaths::findExecutable("pdftotext").isEmpty())
            << "poppler-utils is missing: scripts/setup installs it";
        resetSettings();
        previousBox = KMessageBox::setHook([this](const KMessageBox::Request& r) {
            boxes << r.text;
            return QMessageBox::Ok;
        });
        program = dir.filePath(QStringLiteral("long.kelm"));
        QFile f(program);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        // Long enough for several pages.
        for (int i = 1; i <= 150; ++i)
            f.write(QStringLiteral("after (00:%1:00) set {T%2:LEVEL} = %3\n")
                        .arg(i % 60, 2, 10, QLatin1Char('0'))
                        .arg(i)
                        .arg(i * 0.5)
                        .toUtf8());
    }
    void TearDown() override
    {
        app.reset();
        ShellRequests::setPrinterHook({});
        KMessageBox::setHook(previousBox);
    }
    static ShellRequests::PrinterHook toPdf(const QString& path)
    {
        return [path](QPrinter& p) {
            p.setOutputFormat(QPrinter::PdfFormat);
            p.setOutputFileName(path);
        };
    }
    int openDocuments() const
    {
        int n = 0;
        for (const auto& t : app->templates())
            n += static_cast<int>(t->documents().size());
        return n;
    }

    QTemporaryDir dir;
    QString program;
    std::unique_ptr<CKelmDeskApp> app;
    QStringList boxes;
    KMessageBox::Hook previousBox;
};

TEST_F(PrintRequestTest, PrintRequestRendersTheSamePagesAsPrint)
{
    const QString requested = dir.filePath("requested.pdf");
    const QString printed = dir.filePath("printed.pdf");

    ShellRequests::setPrinterHook(toPdf(requested));
    app = std::make_unique<CKelmDeskApp>();
    EXPECT_FALSE(app->initInstance({"kelmdesk", "-p", program}));
    EXPECT_EQ(app->exitCode(), 0);
    EXPECT_FALSE(app->mainFrame()->isVisible()) << "the main window is never shown";
    EXPECT_EQ(openDocuments(), 0) << "the printed program is closed again";
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
    app.reset();
    ShellRequests::setPrinterHook({});

    // The same program through File > Print and its dialog.
    app = std::make_unique<CKelmDeskApp>();
    ASSERT_TRUE(app->initInstance({"kelmdesk"}));
    ASSERT_TRUE(app->openDocumentFile(program));
    Printing::printer().setOutputFormat(QPrinter::PdfFormat);
    Printing::printer().setOutputFileName(printed);
    const Modal::DialogHook previousDialog = Modal::setDialogHook([](QDialog& dlg) { dlg.accept(); });
    EXPECT_TRUE(triggerAction(Cmd::FilePrint));
    Modal::setDialogHook(previousDialog);

    const std::optional<QByteArray> requestedText = run("pdftotext", {"-layout", requested, "-"});
    const std::optional<QByteArray> printedText = run("pdftotext", {"-layout", printed, "-"});
    ASSERT_TRUE(requestedText && printedText);
    EXPECT_TRUE(requestedText->contains("after (00:30:00) set {T150:LEVEL} = 75"));
    EXPECT_EQ(*requestedText, *printedText);

    const QList<QImage> requestedPages = pages(requested);
    const QList<QImage> printedPages = pages(printed);
    ASSERT_GE(requestedPages.size(), 2);
    ASSERT_EQ(requestedPages.size(), printedPages.size());
    for (int i = 0; i < requestedPages.size(); ++i)
        EXPECT_TRUE(requestedPages.at(i) == printedPages.at(i)) << "page " << i + 1;
}

TEST_F(PrintRequestTest, UnreadableFileGetsTheEditorsMessageAndPrintsNothing)
{
    const QString pdf = dir.filePath("out.pdf");
    ShellRequests::setPrinterHook(toPdf(pdf));
    app = std::make_unique<CKelmDeskApp>();
    const QString missing = dir.filePath("missing.kelm");
    EXPECT_FALSE(app->initInstance({"kelmdesk", "-p", missing}));
    EXPECT_EQ(app->exitCode(), 1);
    EXPECT_EQ(boxes, QStringList{ProgramText::readFile(missing).error});
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(openDocuments(), 0);
}

TEST_F(PrintRequestTest, UnknownPrinterIsNamedAndNothingIsPrinted)
{
    app = std::make_unique<CKelmDeskApp>();
    EXPECT_FALSE(app->initInstance({"kelmdesk", "-pt", program, "No Such Printer 7"}));
    EXPECT_EQ(app->exitCode(), 1);
    EXPECT_EQ(boxes, QStringList{"The printer \"No Such Printer 7\" is not available."});
    EXPECT_EQ(openDocuments(), 0);
}

} // namespace
