#include "editor/CLineNumberArea.h"

#include <QAbstractTextDocumentLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>

namespace {

constexpr int Padding = 4; // pixels on each side of the numbers

} // namespace

CLineNumberArea::CLineNumberArea(CGutterEdit* editor) : QWidget(editor), m_editor(editor)
{
    setObjectName(QStringLiteral("lineNumbers"));
    setCursor(Qt::ArrowCursor);
    // It fills every row it paints: the editor's frame and the window behind need not paint under it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(editor, &QPlainTextEdit::blockCountChanged, this, [this] { updateGeometry(); });
    connect(editor, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
        if (dy)
            scroll(0, dy);
        else
            update(0, rect.y(), width(), rect.height());
    });
    // Only the rows of the line marked before and the one marked now are painted again.
    connect(editor, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        const int line = m_editor->textCursor().blockNumber();
        if (line == m_currentLine)
            return;
        updateLine(m_currentLine);
        m_currentLine = line;
        updateLine(line);
    });
    updateGeometry();
}

void CLineNumberArea::updateLine(int line)
{
    const QTextBlock block = m_editor->document()->findBlockByNumber(line);
    if (!block.isValid())
        return;
    CGutterEdit* e = m_editor;
    const QRectF r = e->blockBoundingGeometry(block).translated(e->contentOffset());
    if (r.bottom() >= 0 && r.top() <= height())
        update(0, int(r.top()), width(), int(r.height()) + 1);
}

int CLineNumberArea::widthFor(int lineCount) const
{
    int digits = 1;
    for (int n = std::max(1, lineCount); n >= 10; n /= 10)
        ++digits;
    return 2 * Padding + digits * m_editor->fontMetrics().horizontalAdvance(QLatin1Char('9'));
}

QSize CLineNumberArea::sizeHint() const
{
    return QSize(widthFor(m_editor->blockCount()), 0);
}

void CLineNumberArea::updateGeometry()
{
    const int w = widthFor(m_editor->blockCount());
    // Setting the margins lays out the editor again: only when the digits change.
    if (m_editor->viewport()->geometry().left() - m_editor->contentsRect().left() != w)
        m_editor->setViewportMargins(w, 0, 0, 0);
    const QRect r = m_editor->contentsRect();
    const QRect g(r.left(), r.top(), w, r.height());
    if (geometry() != g)
        setGeometry(g);
}

void CLineNumberArea::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.fillRect(event->rect(), pal.color(QPalette::Window));
    painter.setFont(m_editor->font());
    CGutterEdit* e = m_editor;
    const int current = m_editor->textCursor().blockNumber();
    m_currentLine = current;
    const QFontMetrics metrics = m_editor->fontMetrics();
    const int digit = metrics.horizontalAdvance(QLatin1Char('9'));
    const int ascent = metrics.ascent();
    QFont bold = m_editor->font();
    bold.setBold(true);
    QTextBlock block = e->firstVisibleBlock();
    int number = block.blockNumber();
    int top = qRound(e->blockBoundingGeometry(block).translated(e->contentOffset()).top());
    for (; block.isValid() && top <= event->rect().bottom(); block = block.next(), ++number) {
        const int bottom = top + qRound(e->blockBoundingRect(block).height());
        if (block.isVisible() && bottom >= event->rect().top()) {
            if (number == current) {
                painter.fillRect(0, top, width(), bottom - top, pal.color(QPalette::Highlight));
                painter.setPen(pal.color(QPalette::HighlightedText));
                painter.setFont(bold);
            } else {
                painter.setPen(pal.color(QPalette::PlaceholderText));
                painter.setFont(m_editor->font());
            }
            // Digits of a fixed-pitch font share one advance: placed by count, drawn without layout.
            const QString digits = QString::number(number + 1);
            painter.drawText(width() - Padding - int(digits.size()) * digit, top + ascent, digits);
        }
        top = bottom;
    }
}

void CLineNumberArea::selectLineAt(int y, bool extend)
{
    const QTextCursor at = m_editor->cursorForPosition(QPoint(0, y));
    const int line = at.blockNumber();
    if (!extend || m_anchorLine < 0)
        m_anchorLine = line;
    QTextDocument* doc = m_editor->document();
    const QTextBlock first = doc->findBlockByNumber(std::min(m_anchorLine, line));
    const QTextBlock last = doc->findBlockByNumber(std::max(m_anchorLine, line));
    QTextCursor c(doc);
    // The line with its line end, so that a cut or a drag takes the whole line.
    c.setPosition(first.position());
    if (last.next().isValid())
        c.setPosition(last.next().position(), QTextCursor::KeepAnchor);
    else
        c.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    m_editor->setTextCursor(c);
}

void CLineNumberArea::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    selectLineAt(int(event->position().y()), event->modifiers() & Qt::ShiftModifier);
    m_editor->setFocus();
}

void CLineNumberArea::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && m_anchorLine >= 0)
        selectLineAt(int(event->position().y()), true);
}
