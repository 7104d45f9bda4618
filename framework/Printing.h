#pragma once

#include <QString>

class QPrinter;
class QTextDocument;
class QWidget;

// Printing shared by the document kinds: one printer set up for the whole program.
namespace Printing {

QPrinter& printer();
// Print Setup: the page and printer choice for later prints.
void pageSetup(QWidget* parent);
// Prints a copy of document with margins of marginInches on all sides. direct: no print dialog.
void print(QWidget* parent, const QTextDocument& document, const QString& title, double marginInches, bool direct);
void preview(QWidget* parent, const QTextDocument& document, const QString& title, double marginInches);

} // namespace Printing
