#include "monitor/CMonitorConsole.h"

#include "core/AppCore.h"
#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "framework/Printing.h"
#include "monitor/CFollowBar.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CMonitorFrame.h"
#include "monitor/CMonitorView.h"
#include "monitor/ConsoleAccessible.h"
#include "monitor/ConsoleLines.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

namespace {
constexpr int DragScrollMs = 50;

// Draws the cells from firstColumn on of a line that starts at x0: a plain line in one run, any
// other a cluster to its cell.
void drawLine(QPainter& painter, const QString& line, double x0, double baseline, double cell, int firstColumn,
              int columnsShown)
{
    if (ConsoleDisplay::isPlain(line)) {
        painter.drawText(QPointF(x0 + firstColumn * cell, baseline), line.mid(firstColumn, columnsShown));
        return;
    }
    const int lastColumn = firstColumn + columnsShown;
    // Plain characters in view are drawn in runs; any other cluster alone, in its cells.
    int runStart = -1;
    int runColumn = 0;
    auto flush = [&](int end) {
        if (runStart >= 0)
            painter.drawText(QPointF(x0 + runColumn * cell, baseline), line.mid(runStart, end - runStart));
        runStart = -1;
    };
    int column = 0;
    int i = 0;
    while (i < line.size() && column < lastColumn) {
        const int end = ConsoleDisplay::clusterEnd(line, i);
        const int next = column + ConsoleDisplay::clusterColumns(line, i, end, column);
        if (next > firstColumn) {
            if (end == i + 1 && ConsoleDisplay::isPlainCharacter(line.at(i))) {
                if (runStart < 0) {
                    runStart = i;
                    runColumn = column;
                }
            } else {
                flush(i);
                painter.drawText(QPointF(x0 + column * cell, baseline), ConsoleDisplay::shown(line, i, end));
            }
        }
        column = next;
        i = end;
    }
    flush(i);
}

} // namespace

CMonitorConsole::CMonitorConsole(CMonitorDoc* document, QWidget* parent)
    : QAbstractScrollArea(parent), CView(document), m_followBar(new CFollowBar(this))
{
    ConsoleAccessible::install();
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    setPalette(p);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    onCommand(
        Cmd::EditCopy, [this] { copy(); }, [this] { return hasSelectedText(); });
    onCommand(Cmd::EditSelectAll, [this] { selectAll(); });
    onCommand(Cmd::FilePrint, [this] { print(false); });
    onCommand(Cmd::FilePrintDirect, [this] { print(true); });
    onCommand(Cmd::FilePrintPreview, [this] {
        Printing::preview(this, *printable(), CView::document()->title(), CMonitorView::PrintMarginTwips / 1440.0);
    });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &CMonitorConsole::onScrolled);
    connect(m_followBar, &CFollowBar::resumeRequested, this, [this] { setFollowing(true); });
    // What the document holds already is not news to assistive technology.
    m_shownEnd = lines().endNumber();
    updateScrollBars();
    showEnd();
}

CMonitorConsole::~CMonitorConsole()
{
    // The record names one console; when its window goes, another window's console takes over.
    AppCore* core = AppCore::instance();
    if (!core)
        return;
    for (auto& record : core->monitors) {
        if (record->console != this)
            continue;
        record->console = nullptr;
        if (CDocument* doc = CView::document()) {
            for (CView* v : doc->views()) {
                if (auto* other = dynamic_cast<CMonitorConsole*>(v); other && other != this) {
                    record->console = other;
                    break;
                }
            }
        }
    }
}

const ConsoleLines& CMonitorConsole::lines() const
{
    return static_cast<CMonitorDoc*>(CView::document())->console();
}

int CMonitorConsole::lineHeight() const
{
    return std::max(1, fontMetrics().lineSpacing());
}

double CMonitorConsole::columnWidth() const
{
    return std::max(1.0, QFontMetricsF(font()).horizontalAdvance(QLatin1Char('0')));
}

int CMonitorConsole::rowsShown() const
{
    return std::max(1, (viewport()->height() - Margin) / lineHeight());
}

qint64 CMonitorConsole::topLine() const
{
    return lines().firstNumber() + verticalScrollBar()->value();
}

void CMonitorConsole::updateScrollBars()
{
    // A range that shrinks moves the value: that is not the user scrolling.
    ++m_moving;
    const ConsoleLines& store = lines();
    const int rows = rowsShown();
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, std::max(0, store.size() - rows));
    v->setPageStep(rows);
    v->setSingleStep(1);
    QScrollBar* h = horizontalScrollBar();
    const int width = int(std::ceil(store.widestColumns() * columnWidth())) + 2 * Margin;
    h->setRange(0, std::max(0, width - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setSingleStep(int(std::ceil(columnWidth())));
    --m_moving;
}

void CMonitorConsole::placeVertically()
{
    QScrollBar* v = verticalScrollBar();
    ++m_moving;
    if (m_following)
        v->setValue(v->maximum());
    else
        v->setValue(int(std::clamp<qint64>(m_topNumber - lines().firstNumber(), 0, v->maximum())));
    --m_moving;
    m_topNumber = topLine();
}

void CMonitorConsole::onScrolled()
{
    if (m_moving)
        return;
    m_topNumber = topLine();
    const QScrollBar* v = verticalScrollBar();
    if (m_following && v->value() < v->maximum())
        setFollowing(false);
}

void CMonitorConsole::setFollowing(bool following)
{
    // Every step of a drag that selects pauses again: that must cost nothing.
    if (following == m_following && !following)
        return;
    if (following != m_following) {
        m_following = following;
        ++m_moving;
        setViewportMargins(0, 0, 0, following ? 0 : m_followBar->stripHeight());
        m_followBar->setVisible(!following);
        m_followBar->place();
        --m_moving;
    }
    updateScrollBars();
    placeVertically();
}

void CMonitorConsole::showEnd()
{
    if (m_endPending)
        return;
    m_endPending = true;
    QTimer::singleShot(0, this, [this] {
        m_endPending = false;
        // Lines dropped at the front may have taken the selection with them.
        const qint64 first = lines().firstNumber();
        if (m_anchor.line < first || m_caret.line < first) {
            const Spot start{first, 0};
            setSelection(std::max(m_anchor, start), std::max(m_caret, start), false);
        }
        updateScrollBars();
        placeVertically();
        viewport()->update();
        reportNewLines();
    });
}

void CMonitorConsole::reportNewLines()
{
    const ConsoleLines& store = lines();
    const qint64 from = std::max(m_shownEnd, store.firstNumber());
    m_shownEnd = store.endNumber();
    QAccessibleTextInterface* text = accessibleText();
    if (!text || from >= store.endNumber())
        return;
    QString added = store.text(from, 0, store.endNumber() - 1, INT_MAX);
    if (from > store.firstNumber())
        added.prepend(QLatin1Char('\n'));
    QAccessibleTextInsertEvent event(this, text->characterCount() - int(added.size()), added);
    QAccessible::updateAccessibility(&event);
}

QAccessibleTextInterface* CMonitorConsole::accessibleText()
{
    if (!QAccessible::isActive())
        return nullptr;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(this);
    return iface ? iface->textInterface() : nullptr;
}

QString CMonitorConsole::selectedText() const
{
    const Spot from = std::min(m_anchor, m_caret);
    const Spot to = std::max(m_anchor, m_caret);
    return from == to ? QString() : lines().text(from.line, from.index, to.line, to.index);
}

void CMonitorConsole::copy()
{
    if (hasSelectedText())
        QGuiApplication::clipboard()->setText(selectedText());
}

void CMonitorConsole::selectAll()
{
    const ConsoleLines& store = lines();
    if (store.isEmpty())
        return;
    const qint64 last = store.endNumber() - 1;
    setSelection({store.firstNumber(), 0}, {last, int(store.line(last).size())});
}

void CMonitorConsole::setSelection(Spot anchor, Spot caret, bool byUser)
{
    if (byUser && anchor != caret)
        setFollowing(false);
    if (anchor == m_anchor && caret == m_caret)
        return;
    m_anchor = anchor;
    m_caret = caret;
    viewport()->update();
    if (m_copyAvailable != hasSelectedText()) {
        m_copyAvailable = hasSelectedText();
        CMDIFrame::requestCommandUpdate();
    }
    if (QAccessibleTextInterface* text = accessibleText()) {
        int start = 0;
        int end = 0;
        text->selection(0, &start, &end);
        QAccessibleTextSelectionEvent event(this, start, end);
        event.setCursorPosition(text->cursorPosition());
        QAccessible::updateAccessibility(&event);
    }
}

double CMonitorConsole::columnAt(int x) const
{
    return (x + horizontalScrollBar()->value() - Margin) / columnWidth();
}

CMonitorConsole::Spot CMonitorConsole::spotAt(const QPoint& pos) const
{
    const ConsoleLines& store = lines();
    if (store.isEmpty())
        return {store.firstNumber(), 0};
    const qint64 row = std::max(0, pos.y() - Margin) / lineHeight();
    const qint64 number = std::clamp(topLine() + row, store.firstNumber(), store.endNumber() - 1);
    return {number, ConsoleDisplay::indexAt(store.line(number), columnAt(pos.x()))};
}

void CMonitorConsole::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect area = event->rect();
    const ConsoleLines& store = lines();
    const int height = lineHeight();
    const double cell = columnWidth();
    const int ascent = fontMetrics().ascent();
    const int scrollX = horizontalScrollBar()->value();
    // Only the columns in view are drawn: a line can be thousands of characters long.
    const int firstColumn = std::max(0, int(scrollX / cell) - 1);
    const int columnsShown = int(viewport()->width() / cell) + 3;
    const Spot from = std::min(m_anchor, m_caret);
    const Spot to = std::max(m_anchor, m_caret);
    const QPalette& pal = palette();

    const qint64 top = topLine();
    const int firstRow = std::max(0, (area.top() - Margin) / height);
    const int lastRow = (area.bottom() - Margin) / height;
    for (int row = firstRow; row <= lastRow; ++row) {
        const qint64 number = top + row;
        if (number >= store.endNumber())
            break;
        const QString& line = store.line(number);
        const int y = Margin + row * height;
        const double x0 = Margin - scrollX;
        const double baseline = y + ascent;

        painter.setPen(pal.color(QPalette::Text));
        drawLine(painter, line, x0, baseline, cell, firstColumn, columnsShown);
        if (from.line <= number && number <= to.line && from != to) {
            const int startColumn = number == from.line ? ConsoleDisplay::columnOf(line, from.index) : 0;
            const int endColumn = number == to.line ? ConsoleDisplay::columnOf(line, to.index)
                                                    : ConsoleDisplay::columns(line) + 1; // the line break
            const QRectF band(x0 + startColumn * cell, y, (endColumn - startColumn) * cell, height);
            painter.fillRect(band, pal.brush(QPalette::Highlight));
            painter.save();
            painter.setClipRect(band);
            painter.setPen(pal.color(QPalette::HighlightedText));
            drawLine(painter, line, x0, baseline, cell, firstColumn, columnsShown);
            painter.restore();
        }
    }
}

void CMonitorConsole::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    placeVertically();
    m_followBar->place();
}

void CMonitorConsole::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateScrollBars();
        placeVertically();
        viewport()->update();
    }
}

void CMonitorConsole::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    QScrollBar* v = verticalScrollBar();
    if (event->matches(QKeySequence::MoveToStartOfDocument) || event->key() == Qt::Key_Home) {
        v->setValue(v->minimum());
        return;
    }
    if (event->matches(QKeySequence::MoveToEndOfDocument) || event->key() == Qt::Key_End) {
        setFollowing(true);
        return;
    }
    // Arrows and page keys scroll.
    QAbstractScrollArea::keyPressEvent(event);
}

void CMonitorConsole::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const Spot spot = spotAt(event->position().toPoint());
    // A third click soon after a double click selects the whole line.
    if (m_tripleClick.isActive() &&
        (event->position().toPoint() - m_tripleClickPos).manhattanLength() < QApplication::startDragDistance()) {
        m_tripleClick.stop();
        const qint64 next = spot.line + 1;
        setSelection({spot.line, 0},
                     next < lines().endNumber() ? Spot{next, 0} : Spot{spot.line, int(lines().line(spot.line).size())});
        publishSelection();
        return;
    }
    setSelection(event->modifiers() & Qt::ShiftModifier ? m_anchor : spot, spot);
    m_selecting = true;
}

void CMonitorConsole::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton))
        return;
    dragTo(event->position().toPoint());
}

void CMonitorConsole::dragTo(const QPoint& pos)
{
    m_dragPos = pos;
    if (viewport()->rect().contains(pos))
        m_dragScroll.stop();
    else if (!m_dragScroll.isActive())
        m_dragScroll.start(DragScrollMs, this);
    setSelection(m_anchor, spotAt(pos));
}

void CMonitorConsole::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_tripleClick.timerId()) {
        m_tripleClick.stop();
        return;
    }
    if (event->timerId() != m_dragScroll.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    // A release taken by a popup or a modal box never reaches this view.
    if (!(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        endDrag();
        return;
    }
    const QRect r = viewport()->rect();
    QScrollBar* v = verticalScrollBar();
    QScrollBar* h = horizontalScrollBar();
    if (m_dragPos.y() < r.top())
        v->setValue(v->value() - 1);
    else if (m_dragPos.y() > r.bottom())
        v->setValue(v->value() + 1);
    if (m_dragPos.x() < r.left())
        h->setValue(h->value() - h->singleStep());
    else if (m_dragPos.x() > r.right())
        h->setValue(h->value() + h->singleStep());
    setSelection(m_anchor, spotAt(m_dragPos));
}

void CMonitorConsole::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_selecting) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    endDrag();
    publishSelection();
}

void CMonitorConsole::endDrag()
{
    m_selecting = false;
    m_dragScroll.stop();
}

void CMonitorConsole::focusOutEvent(QFocusEvent* event)
{
    endDrag();
    QAbstractScrollArea::focusOutEvent(event);
}

void CMonitorConsole::hideEvent(QHideEvent* event)
{
    endDrag();
    QAbstractScrollArea::hideEvent(event);
}

void CMonitorConsole::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // Ctrl+wheel zooms, as in the other text panes, a step per notch of the wheel; fine-grained
    // wheels and touch pads add up to notches.
    m_zoomDelta += event->angleDelta().y();
    const int steps = m_zoomDelta / 120;
    if (steps == 0)
        return;
    m_zoomDelta -= steps * 120;
    QFont f = font();
    if (f.pointSizeF() > 0)
        f.setPointSizeF(std::clamp(f.pointSizeF() + steps, 4.0, 72.0));
    else
        f.setPixelSize(std::clamp(f.pixelSize() + steps, 5, 96));
    setFont(f);
}

void CMonitorConsole::publishSelection()
{
    // The selection also goes where a middle click pastes it, on systems that have one.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelectedText() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void CMonitorConsole::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    const ConsoleLines& store = lines();
    if (store.isEmpty())
        return;
    // The word in the cell under the mouse, or else that one character.
    const Spot spot = spotAt(event->position().toPoint());
    const QString& line = store.line(spot.line);
    const auto [start, end] =
        ConsoleDisplay::wordAt(line, ConsoleDisplay::clusterAt(line, columnAt(event->position().toPoint().x())));
    setSelection({spot.line, start}, {spot.line, end});
    publishSelection();
    m_tripleClickPos = event->position().toPoint();
    m_tripleClick.start(QApplication::doubleClickInterval(), this);
}

void CMonitorConsole::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), QKeySequence::Copy, this, &CMonitorConsole::copy);
    copyAction->setEnabled(hasSelectedText());
    QAction* selectAllAction =
        menu.addAction(tr("Select All"), QKeySequence::SelectAll, this, &CMonitorConsole::selectAll);
    selectAllAction->setEnabled(!lines().isEmpty());
    menu.addSeparator();
    menu.addAction(tr("&Find..."), this, [this] {
        if (auto* frame = qobject_cast<CMonitorFrame*>(CView::frame()))
            frame->startFind(this);
    });
    auto* monitor = static_cast<CMonitorDoc*>(CView::document());
    QAction* save = menu.addAction(tr("Save Co&nsole As..."), monitor, &CMonitorDoc::saveConsoleAs);
    save->setEnabled(!lines().isEmpty());
    menu.addAction(tr("&Print..."), this, [this] { print(false); });
    if (!m_following)
        menu.addAction(tr("&Resume Following"), this, [this] { setFollowing(true); });
    menu.exec(event->globalPos());
}

std::unique_ptr<QTextDocument> CMonitorConsole::printable() const
{
    // In the console's own font, not as zoomed on screen.
    auto text = std::make_unique<QTextDocument>();
    text->setDefaultFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text->setPlainText(lines().toPlainText());
    return text;
}

void CMonitorConsole::print(bool direct)
{
    Printing::print(this, *printable(), CView::document()->title(), CMonitorView::PrintMarginTwips / 1440.0, direct);
}

bool CMonitorConsole::find(const QString& what, bool backward, bool matchCase)
{
    const ConsoleLines& store = lines();
    if (what.isEmpty() || store.isEmpty())
        return false;
    Spot from;
    if (hasSelectedText()) {
        from = backward ? std::min(m_anchor, m_caret) : std::max(m_anchor, m_caret);
    } else if (!backward) {
        from = {topLine(), 0};
    } else {
        // From the end of the last line in view.
        const qint64 bottom = std::min(topLine() + rowsShown(), store.endNumber()) - 1;
        from = {bottom, int(store.line(bottom).size())};
    }
    const ConsoleLines::Match match =
        store.find(what, from.line, from.index, backward, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
    if (match.line < 0)
        return false;
    setSelection({match.line, match.index}, {match.line, match.index + int(what.size())});
    // Into view: the line in the middle of the pane if it is out of sight, the text's columns
    // within the width.
    const int rows = rowsShown();
    if (match.line < topLine() || match.line >= topLine() + rows)
        verticalScrollBar()->setValue(int(std::max<qint64>(0, match.line - store.firstNumber() - rows / 2)));
    const QString& line = store.line(match.line);
    const double cell = columnWidth();
    const int left = int(ConsoleDisplay::columnOf(line, match.index) * cell) + Margin;
    const int right = int(std::ceil(ConsoleDisplay::columnOf(line, match.index + int(what.size())) * cell)) + Margin;
    QScrollBar* h = horizontalScrollBar();
    if (left < h->value() || right > h->value() + viewport()->width())
        h->setValue(std::max(0, left - viewport()->width() / 3));
    return true;
}
