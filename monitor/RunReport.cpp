#include "monitor/RunReport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrameFormat>
#include <QTextTable>
#include <QUrl>
#include <QWidget>

#include <algorithm>

namespace RunReport {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("RunReport", text);
}

// The plot at twice its size on screen, so that it prints sharp.
QImage picture(QWidget* plot)
{
    const qreal scale = 2.0;
    QImage image(plot->size() * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    QPainter painter(&image);
    plot->render(&painter);
    return image;
}

} // namespace

bool write(const QString& path, const Facts& facts, const QString& listing, const QString& console, QWidget* plot,
           QString* reason)
{
    // The printer reports no failure of its own: the file is opened first to learn whether it can be.
    {
        QFile probe(path);
        const bool existed = probe.exists();
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
            if (reason)
                *reason = probe.errorString();
            return false;
        }
        probe.close();
        if (!existed)
            probe.remove();
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setDocName(tr("Run report: %1").arg(QFileInfo(facts.program).fileName()));
    printer.setPageMargins(QMarginsF(0.5, 0.5, 0.5, 0.5), QPageLayout::Inch);

    QTextDocument document;
    // Laid out in points on the page's printable area.
    const QSizeF page = printer.pageLayout().paintRect(QPageLayout::Point).size();
    document.setPageSize(page);
    document.setDefaultFont(QFont(QStringLiteral("Sans Serif"), 9));
    QTextCursor cursor(&document);
    QTextCharFormat heading;
    heading.setFontWeight(QFont::Bold);
    heading.setFontPointSize(14);
    QTextCharFormat section;
    section.setFontWeight(QFont::Bold);
    section.setFontPointSize(11);
    QTextCharFormat plain;
    QTextCharFormat fixed;
    fixed.setFontFamilies({QStringLiteral("Courier New"), QStringLiteral("monospace")});
    fixed.setFontFixedPitch(true);
    fixed.setFontPointSize(8);

    // Every text is inserted as text, never read as markup: names and lines come from the runner.
    cursor.insertText(tr("Run report: %1").arg(QFileInfo(facts.program).fileName()), heading);
    cursor.insertBlock();
    QTextTableFormat table;
    table.setBorder(0);
    table.setCellPadding(2);
    const QList<QPair<QString, QString>> rows = {{tr("Program"), facts.program},   {tr("Kernel host"), facts.host},
                                                 {tr("Instance"), facts.instance}, {tr("Started"), facts.started},
                                                 {tr("Ended"), facts.ended},       {tr("Result"), facts.result}};
    QTextTable* grid = cursor.insertTable(int(rows.size()), 2, table);
    for (int r = 0; r < rows.size(); ++r) {
        grid->cellAt(r, 0).firstCursorPosition().insertText(rows.at(r).first, section);
        grid->cellAt(r, 1).firstCursorPosition().insertText(rows.at(r).second, plain);
    }
    cursor.movePosition(QTextCursor::End);
    if (plot) {
        cursor.insertBlock();
        cursor.insertText(tr("Trend"), section);
        cursor.insertBlock();
        const QImage image = picture(plot);
        document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("report://trend")), image);
        QTextImageFormat format;
        format.setName(QStringLiteral("report://trend"));
        // The page's width, and at most half its height.
        const qreal aspect = qreal(image.height()) / std::max(1, image.width());
        const qreal width =
            std::min(page.width() - 2 * document.documentMargin() - 4, page.height() / 2 / std::max(0.01, aspect));
        format.setWidth(width);
        format.setHeight(width * aspect);
        cursor.insertImage(format);
    }
    auto addText = [&](const QString& title, const QString& text) {
        cursor.insertBlock();
        cursor.insertText(title, section);
        QStringList lines = text.split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.constLast().isEmpty())
            lines.removeLast();
        for (const QString& line : lines) {
            cursor.insertBlock();
            cursor.insertText(line, fixed);
        }
    };
    addText(tr("Listing"), listing);
    addText(tr("Console"), console);

    document.print(&printer);
    if (QFileInfo(path).size() <= 0) {
        if (reason)
            *reason = tr("The report could not be written.");
        return false;
    }
    return true;
}

} // namespace RunReport
