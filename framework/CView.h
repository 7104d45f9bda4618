#pragma once

#include "framework/CommandTarget.h"

class CDocument;
class CChildFrame;
class QWidget;

// One view of a document. Concrete views are widgets that also derive from CView.
class CView : public CommandTarget
{
public:
    explicit CView(CDocument* document);
    ~CView() override;
    CView(const CView&) = delete;
    CView& operator=(const CView&) = delete;

    CDocument* document() const { return m_document; }
    virtual QWidget* widget() = 0;
    // The frame that holds this view, or null before it is placed.
    CChildFrame* frame();

    // Called once after the frame is complete and before it is shown.
    virtual void onInitialUpdate() {}

private:
    friend class CDocument;
    CDocument* m_document;
};
