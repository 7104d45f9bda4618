#include "monitor/CMonitorView.h"

#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "framework/Printing.h"
#include "monitor/CMonitorDoc.h"
#include "res/Fonts.h"

#include <QHelpEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTimer>
#include <QToolTip>

#include <algorithm>

CMonitorView::CMonitorView(CMonitorDoc* document, QWidget* parent)
    : QPlainTextEdit(parent), CView(document), m_doc(document)
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

QRect CMonitorView::rowRect(int index) const
{
    const QTextBlock block = QPlainTextEdit::document()->findBlockByNumber(index);
    if (!block.isValid() || !block.isVisible())
        return QRect();
    const QRect row = blockBoundingGeometry(block).translated(contentOffset()).toAlignedRect();
    const QRect visible(0, row.top(), viewport()->width(), row.height());
    return visible.intersects(viewport()->rect()) ? visible : QRect();
}

QRect CMonitorView::liveTextRect(int k) const
{
    const QString text = m_doc->live().text(k);
    const QRect row = rowRect(k - 1);
    if (text.isEmpty() || row.isEmpty())
        return QRect();
    const QTextBlock block = QPlainTextEdit::document()->findBlockByNumber(k - 1);
    const QTextLayout* layout = block.layout();
    const qreal end = layout && layout->lineCount() > 0 ? layout->lineAt(0).naturalTextWidth() : 0.0;
    const QFontMetrics metrics(font());
    const int x = int(contentOffset().x() + QPlainTextEdit::document()->documentMargin() + end) +
                  2 * metrics.horizontalAdvance(QLatin1Char(' '));
    return QRect(x, row.top(), metrics.horizontalAdvance(text) + 4, row.height());
}

QRect CMonitorView::noticeRect() const
{
    const QString notice = m_doc->live().kernelNotice();
    if (notice.isEmpty())
        return QRect();
    const QFontMetrics metrics(font());
    const int width = metrics.horizontalAdvance(notice) + 16;
    const int height = metrics.height() + 8;
    return QRect(std::max(0, viewport()->width() - width - 4), 4, width, height);
}

void CMonitorView::repaintLiveLines(const std::vector<int>& lines, bool notice)
{
    // A live text may have become shorter: the whole row from the listing's text on is repainted.
    for (int k : lines) {
        const QRect row = rowRect(k - 1);
        if (!row.isEmpty())
            viewport()->update(row);
    }
    if (notice)
        viewport()->update(QRect(0, 0, viewport()->width(), QFontMetrics(font()).height() + 12));
}

QColor CMonitorView::liveColour(int role) const
{
    const QPalette& p = palette();
    switch (static_cast<LiveLines::Role>(role)) {
    case LiveLines::Role::Waiting:
    case LiveLines::Role::Ramp:
        return p.color(QPalette::Link);
    case LiveLines::Role::Holds:
    case LiveLines::Role::Countdown:
        return p.color(QPalette::Highlight);
    case LiveLines::Role::Written:
        return p.color(QPalette::PlaceholderText);
    case LiveLines::Role::NotFired:
        return p.color(QPalette::LinkVisited);
    case LiveLines::Role::None:
        break;
    }
    return p.color(QPalette::Text);
}

void CMonitorView::paintEvent(QPaintEvent* event)
{
    QPlainTextEdit::paintEvent(event);
    const LiveLines& live = m_doc->live();
    QPainter painter(viewport());
    painter.setFont(font());
    const QRect dirty = event->rect();
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF geometry = blockBoundingGeometry(block).translated(contentOffset());
        if (geometry.top() > dirty.bottom())
            break;
        if (geometry.bottom() < dirty.top())
            continue;
        const int k = block.blockNumber() + 1;
        const QRect where = liveTextRect(k);
        if (where.isEmpty())
            continue;
        const LiveLines::Role role = live.role(k);
        QFont f = font();
        f.setItalic(role == LiveLines::Role::NotFired);
        painter.setFont(f);
        painter.setPen(liveColour(int(role)));
        painter.drawText(where, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, live.text(k));
    }
    const QRect notice = noticeRect();
    if (!notice.isEmpty() && notice.intersects(dirty)) {
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::ToolTipText));
        painter.setBrush(palette().color(QPalette::ToolTipBase));
        painter.drawRoundedRect(notice.adjusted(0, 0, -1, -1), 3, 3);
        painter.drawText(notice, Qt::AlignCenter | Qt::TextSingleLine, live.kernelNotice());
    }
}

bool CMonitorView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        QString tip;
        if (noticeRect().contains(help->pos())) {
            tip = m_doc->live().kernelNotice();
        } else {
            const int k = cursorForPosition(help->pos()).blockNumber() + 1;
            if (rowRect(k - 1).contains(help->pos()))
                tip = m_doc->live().toolTip(k);
        }
        // Tag names come from the runner: shown as plain text, never as markup.
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(),
                               QStringLiteral("<p style='white-space:pre'>") + tip.toHtmlEscaped() +
                                   QStringLiteral("</p>"),
                               viewport());
        return true;
    }
    return QPlainTextEdit::viewportEvent(event);
}

void CMonitorView::print(bool direct)
{
    Printing::print(this, *QPlainTextEdit::document(), CView::document()->title(), PrintMarginTwips / 1440.0, direct);
}
