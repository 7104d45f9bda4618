#include "monitor/CMonitorView.h"

#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "framework/Printing.h"
#include "monitor/CMonitorDoc.h"
#include "res/Fonts.h"

#include <QTextCursor>

CMonitorView::CMonitorView(CMonitorDoc* document, QWidget* parent) : QPlainTextEdit(parent), CView(document)
{
    setDocument(document->listing());
    setFont(Fonts::programFont(font()));
    setReadOnly(true);
    setCursorWidth(0);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    connect(this, &QPlainTextEdit::copyAvailable, this, [this](bool available) {
        m_copyAvailable = available;
        CMDIFrame::requestCommandUpdate();
    });
    onCommand(
        Cmd::EditCopy, [this] { copy(); }, [this] { return m_copyAvailable; });
    onCommand(Cmd::EditSelectAll, [this] { selectAll(); });
    onCommand(Cmd::FilePrint, [this] { print(false); });
    onCommand(Cmd::FilePrintDirect, [this] { print(true); });
    onCommand(Cmd::FilePrintPreview, [this] {
        Printing::preview(this, *QPlainTextEdit::document(), CView::document()->title(), PrintMarginTwips / 1440.0);
    });
}

void CMonitorView::showPosition(int position)
{
    QTextCursor cursor(QPlainTextEdit::document());
    cursor.setPosition(std::clamp(position, 0, QPlainTextEdit::document()->characterCount() - 1));
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CMonitorView::print(bool direct)
{
    Printing::print(this, *QPlainTextEdit::document(), CView::document()->title(), PrintMarginTwips / 1440.0, direct);
}
