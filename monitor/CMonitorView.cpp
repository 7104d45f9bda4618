#include "monitor/CMonitorView.h"

#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "framework/Printing.h"
#include "monitor/CFollowBar.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CMonitorFrame.h"
#include "res/Fonts.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <memory>

CMonitorView::CMonitorView(CMonitorDoc* document, QWidget* parent)
    : QPlainTextEdit(parent), CView(document), m_followBar(new CFollowBar(this))
{
    ++m_moving;
    setDocument(document->listing());
    setFont(Fonts::programFont(font()));
    setReadOnly(true);
    setCursorWidth(0);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    --m_moving;
    connect(this, &QPlainTextEdit::copyAvailable, this, [this](bool available) {
        m_copyAvailable = available;
        CMDIFrame::requestCommandUpdate();
    });
    connect(this, &QPlainTextEdit::selectionChanged, this, [this] {
        if (!m_moving && textCursor().hasSelection())
            setFollowing(false);
    });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &CMonitorView::onScrolled);
    connect(m_followBar, &CFollowBar::resumeRequested, this, [this] { setFollowing(true); });
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
    m_followPosition = position;
    if (!m_following || m_showPending)
        return;
    m_showPending = true;
    QTimer::singleShot(0, this, &CMonitorView::applyPendingPosition);
}

void CMonitorView::applyPendingPosition()
{
    m_showPending = false;
    if (!m_following || m_followPosition < 0)
        return;
    const int position = std::clamp(m_followPosition, 0, QPlainTextEdit::document()->characterCount() - 1);
    ++m_moving;
    if (textCursor().hasSelection()) {
        scrollToPosition(position);
    } else {
        QTextCursor cursor(QPlainTextEdit::document());
        cursor.setPosition(position);
        setTextCursor(cursor);
        ensureCursorVisible();
    }
    --m_moving;
}

void CMonitorView::scrollToPosition(int position)
{
    if (positionVisible(position))
        return;
    const QTextBlock block = QPlainTextEdit::document()->findBlock(position);
    const int rows = std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing()));
    // Without wrapping, the vertical scroll bar counts lines.
    verticalScrollBar()->setValue(std::max(0, block.blockNumber() - rows / 2));
}

bool CMonitorView::positionVisible(int position) const
{
    QTextCursor cursor(QPlainTextEdit::document());
    cursor.setPosition(std::clamp(position, 0, QPlainTextEdit::document()->characterCount() - 1));
    const QRect line = cursorRect(cursor);
    return line.top() >= 0 && line.bottom() <= viewport()->height();
}

void CMonitorView::onScrolled()
{
    if (m_moving || !m_following)
        return;
    if (!positionVisible(std::max(0, m_followPosition)))
        setFollowing(false);
}

void CMonitorView::setFollowing(bool following)
{
    if (following != m_following) {
        m_following = following;
        ++m_moving;
        setViewportMargins(0, 0, 0, following ? 0 : m_followBar->stripHeight());
        m_followBar->setVisible(!following);
        m_followBar->place();
        --m_moving;
    }
    if (following && m_followPosition >= 0)
        applyPendingPosition();
}

bool CMonitorView::find(const QString& what, bool backward, bool matchCase)
{
    if (what.isEmpty())
        return false;
    QTextDocument::FindFlags flags;
    if (backward)
        flags |= QTextDocument::FindBackward;
    if (matchCase)
        flags |= QTextDocument::FindCaseSensitively;
    const QTextDocument* text = QPlainTextEdit::document();
    const QTextCursor from = textCursor();
    QTextCursor start(QPlainTextEdit::document());
    start.setPosition(backward ? from.selectionStart() : from.selectionEnd());
    QTextCursor found = text->find(what, start, flags);
    if (found.isNull()) {
        start.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
        found = text->find(what, start, flags);
    }
    if (found.isNull())
        return false;
    // Selecting pauses following, so the found text stays in view.
    setTextCursor(found);
    ensureCursorVisible();
    return true;
}

void CMonitorView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_End &&
        (event->modifiers() & ~(Qt::ControlModifier | Qt::KeypadModifier)) == Qt::NoModifier) {
        setFollowing(true);
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CMonitorView::resizeEvent(QResizeEvent* event)
{
    ++m_moving;
    QPlainTextEdit::resizeEvent(event);
    m_followBar->place();
    --m_moving;
}

void CMonitorView::contextMenuEvent(QContextMenuEvent* event)
{
    const std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    menu->addSeparator();
    menu->addAction(tr("&Find..."), this, [this] {
        if (auto* frame = qobject_cast<CMonitorFrame*>(CView::frame()))
            frame->startFind(this);
    });
    menu->addAction(tr("&Print..."), this, [this] { print(false); });
    if (!m_following)
        menu->addAction(tr("&Resume Following"), this, [this] { setFollowing(true); });
    menu->exec(event->globalPos());
}

void CMonitorView::print(bool direct)
{
    Printing::print(this, *QPlainTextEdit::document(), CView::document()->title(), PrintMarginTwips / 1440.0, direct);
}
