#include "framework/CView.h"

#include "framework/CChildFrame.h"
#include "framework/CDocument.h"

#include <QWidget>

CView::CView(CDocument* document) : m_document(document)
{
    if (m_document)
        m_document->addView(this);
}

CView::~CView()
{
    if (m_document)
        m_document->removeView(this);
}

CChildFrame* CView::frame()
{
    for (QWidget* w = widget(); w; w = w->parentWidget()) {
        if (auto* f = qobject_cast<CChildFrame*>(w))
            return f;
    }
    return nullptr;
}
