#include "framework/Printing.h"

#include "framework/Modal.h"

#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTextDocument>

#include <memory>

namespace Printing {
namespace {
void applyMargins(QPrinter& p, double marginInches)
{
    p.setPageMargins(QMarginsF(marginInches, marginInches, marginInches, marginInches), QPageLayout::Inch);
}

void render(QPrinter* p, const QTextDocument& document)
{
    std::unique_ptr<QTextDocument> copy(document.clone());
    copy->print(p);
}
} // namespace

QPrinter& printer()
{
    static QPrinter p(QPrinter::HighResolution);
    return p;
}

void pageSetup(QWidget* parent)
{
    QPageSetupDialog dlg(&printer(), parent);
    Modal::run(dlg);
}

void print(QWidget* parent, const QTextDocument& document, const QString& title, double marginInches, bool direct)
{
    QPrinter& p = printer();
    p.setDocName(title);
    applyMargins(p, marginInches);
    if (!direct) {
        QPrintDialog dlg(&p, parent);
        dlg.setWindowTitle(QObject::tr("Print"));
        if (Modal::run(dlg) != QDialog::Accepted)
            return;
    }
    render(&p, document);
}

void preview(QWidget* parent, const QTextDocument& document, const QString& title, double marginInches)
{
    QPrinter& p = printer();
    p.setDocName(title);
    applyMargins(p, marginInches);
    QPrintPreviewDialog dlg(&p, parent);
    dlg.setWindowTitle(QObject::tr("Print Preview - %1").arg(title));
    QObject::connect(&dlg, &QPrintPreviewDialog::paintRequested, &dlg,
                     [&document](QPrinter* target) { render(target, document); });
    Modal::run(dlg);
}

} // namespace Printing
