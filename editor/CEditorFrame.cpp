#include "editor/CEditorFrame.h"

#include "editor/CEditorDoc.h"
#include "editor/CEditorView.h"
#include "res/Icons.h"
#include "res/Resource.h"

CEditorFrame::CEditorFrame(CDocument* document, QWidget* parent)
    : CChildFrame(document, parent), m_view(new CEditorView(qobject_cast<CEditorDoc*>(document)))
{
    setWidget(m_view);
    setWindowIcon(Icons::window(Res::ProgramDoc));
}
