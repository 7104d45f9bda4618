#include "monitor/CMonitorView.h"

#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "framework/Printing.h"
#include "monitor/CFollowBar.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CMonitorFrame.h"
#include "res/Fonts.h"

#include <QApplication>
#include <QClipboard>
#include <QHelpEvent>
#include <QPainter>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <memory>

CMonitorView::CMonitorView(CMonitorDoc* document, QWidget* parent)
    : QPlainTextEdit(parent), CView(document), m_doc(document), m_followBar(new CFollowBar(this))
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
    menu->addAction(tr("Copy with &Values"), this, &CMonitorView::copyWithValues);
    menu->addAction(tr("&Print..."), this, [this] { print(false); });
    if (!m_following)
        menu->addAction(tr("&Resume Following"), this, [this] { setFollowing(true); });
    menu->exec(event->globalPos());
}

void CMonitorView::copyWithValues()
{
    // The lines the selection touches, or the whole listing, each with what is shown beside it.
    const QTextCursor c = textCursor();
    QTextDocument* doc = QPlainTextEdit::document();
    QTextBlock first = c.hasSelection() ? doc->findBlock(c.selectionStart()) : doc->begin();
    QTextBlock last = c.hasSelection() ? doc->findBlock(c.selectionEnd()) : doc->lastBlock();
    // A selection that ends at the start of a line takes nothing of that line.
    if (c.hasSelection() && last != first && c.selectionEnd() == last.position())
        last = last.previous();
    QStringList lines;
    const int firstLine = first.blockNumber() + 1;
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        // The listing ends with an empty line after the last line break.
        if (b != last || !b.text().isEmpty() || c.hasSelection())
            lines << b.text();
        if (b == last)
            break;
    }
    QApplication::clipboard()->setText(m_doc->live().withTexts(lines, firstLine));
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
    // Lines out of view are passed over before any geometry is asked for: most changes are there.
    const int first = firstVisibleBlock().blockNumber();
    const int rows = viewport()->height() / std::max(1, fontMetrics().lineSpacing()) + 2;
    for (int k : lines) {
        if (k - 1 < first || k - 1 > first + rows)
            continue;
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
