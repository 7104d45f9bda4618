#include "framework/CChildFrame.h"

#include "framework/CDocument.h"
#include "framework/CView.h"
#include "framework/DocTemplate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>

#include <memory>

CChildFrame::CChildFrame(CDocument* document, QWidget* parent) : QMdiSubWindow(parent), m_document(document)
{
    setAttribute(Qt::WA_DeleteOnClose);
    connect(document, &CDocument::titleChanged, this, &CChildFrame::updateTitle);
}

CChildFrame::~CChildFrame() = default;

QList<CView*> CChildFrame::views() const
{
    QList<CView*> result;
    if (!m_document)
        return result;
    for (CView* v : m_document->views()) {
        if (v->frame() == this)
            result.append(v);
    }
    return result;
}

CView* CChildFrame::activeView() const
{
    const QList<CView*> all = views();
    QWidget* focus = QApplication::focusWidget();
    for (CView* v : all) {
        QWidget* w = v->widget();
        if (focus && (focus == w || w->isAncestorOf(focus)))
            return v;
    }
    return all.isEmpty() ? nullptr : all.constFirst();
}

void CChildFrame::activateNextView(bool forward)
{
    const QList<CView*> all = views();
    if (all.size() < 2)
        return;
    qsizetype index = all.indexOf(activeView());
    index = (index + (forward ? 1 : all.size() - 1)) % all.size();
    all.at(index)->widget()->setFocus(Qt::OtherFocusReason);
}

void CChildFrame::updateTitle()
{
    if (!m_document)
        return;
    const QList<CChildFrame*> all = m_document->frames();
    QString title = m_document->title();
    if (all.size() > 1)
        title += QStringLiteral(":%1").arg(all.indexOf(this) + 1);
    m_title = title;
    setWindowTitle(literalTitle(title));
}

QString CChildFrame::literalTitle(QString text)
{
    // Qt shows a doubled mark as one.
    return text.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

void CChildFrame::closeEvent(QCloseEvent* event)
{
    if (!m_document) {
        QMdiSubWindow::closeEvent(event);
        return;
    }
    if (!m_document->canCloseFrame(this)) {
        event->ignore();
        return;
    }
    QPointer<CChildFrame> self(this);
    CDocument* document = m_document;
    // The views go first, so that nothing refers to the document when it is destroyed.
    std::unique_ptr<QWidget> views(widget());
    views.reset();
    m_document = nullptr;
    if (document->views().isEmpty()) {
        if (DocTemplate* t = document->docTemplate())
            t->closeDocument(document);
    } else {
        for (CChildFrame* f : document->frames())
            f->updateTitle();
    }
    if (self)
        QMdiSubWindow::closeEvent(event);
}
