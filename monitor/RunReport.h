#pragma once

#include <QString>

class QWidget;

// The run report: a PDF of what is known of one run, written through Qt's printing.
namespace RunReport {

struct Facts
{
    QString program;
    QString host;
    QString instance;
    QString started;
    QString ended;
    QString result;
};

// Writes facts, the listing (with its live texts), the console and a picture of plot (the trend
// pane as it is drawn; none when null) to path as a PDF. False, with the reason, when the file
// cannot be written.
bool write(const QString& path, const Facts& facts, const QString& listing, const QString& console, QWidget* plot,
           QString* reason);

} // namespace RunReport
