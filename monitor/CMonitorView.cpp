#include "monitor/CMonitorView.h"

#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "framework/Printing.h"
#include "monitor/CMonitorDoc.h"
#include "res/Fonts.h"

#include <QTextCursor>
#include <QTimer>

#include <algorithm>

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
    if (m_pendingPosition < 0)
        QTimer::singleShot(0, this, &CMonitorView::applyPendingPosition);
    m_pendingPosition = position;
}

void CMonitorView::applyPendingPosition()
{
    if (m_pendingPosition < 0)
        return;
    QTextCursor cursor(QPlainTextEdit::document());
    cursor.setPosition(std::clamp(m_pendingPosition, 0, QPlainTextEdit::document()->characterCount() - 1));
    m_pendingPosition = -1;
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CMonitorView::print(bool direct)
{
    Printing::print(this, *QPlainTextEdit::document(), CView::document()->title(), PrintMarginTwips / 1440.0, direct);
}
