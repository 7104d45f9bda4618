#pragma once

#include "framework/CChildFrame.h"

class CEditorView;

// The window of a program document: one CEditorView.
class CEditorFrame : public CChildFrame
{
    Q_OBJECT
public:
    explicit CEditorFrame(CDocument* document, QWidget* parent = nullptr);

    CEditorView* view() const { return m_view; }

private:
    CEditorView* m_view;
};
