#include "monitor/CTrendPane.h"

#include "kernel/KernelTime.h"
#include "monitor/CFollowBar.h"
#include "monitor/LiveLines.h"
#include "monitor/RunRecord.h"

#include <QCategoryAxis>
#include <QChart>
#include <QDateTime>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineSeries>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSplitter>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <set>
#include <cmath>
#include <limits>

namespace {

// Colours of the curves, told apart also in print; the ninth tag takes the first again.
const QColor curveColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
                               QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                               QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

// Steps of the time axis, in seconds; beyond the last, whole days.
const double timeSteps[] = {0.1, 0.2, 0.5, 1,   2,    5,    10,   15,    30,    60,
                            120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200};

// Tag names come from the runner: a tool tip shows them as plain text, never as markup.
QString plainTip(const QString& text)
{
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

QIcon swatch(const QColor& colour)
{
    QPixmap pixmap(12, 12);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

} // namespace

CTrendChart::CTrendChart(QChart* chart, QWidget* parent) : QChartView(chart, parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setRenderHint(QPainter::Antialiasing, false);
}

void CTrendChart::drawForeground(QPainter* painter, const QRectF& rect)
{
    QChartView::drawForeground(painter, rect);
    emit foregroundPainting(painter);
}

void CTrendChart::mousePressEvent(QMouseEvent* event)
{
    const QPointF at = mapToScene(event->position().toPoint());
    m_dragging = event->button() == Qt::LeftButton;
    m_dragX = at.x();
    emit pressedAt(at, event->button());
    event->accept();
}

void CTrendChart::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF at = mapToScene(event->position().toPoint());
    if (m_dragging && (event->buttons() & Qt::LeftButton) && std::abs(at.x() - m_dragX) >= 1) {
        emit draggedBy(at.x() - m_dragX);
        m_dragX = at.x();
    }
    emit hovered(at);
    event->accept();
}

void CTrendChart::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    event->accept();
}

void CTrendChart::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0)
        emit wheeled(mapToScene(event->position().toPoint()), steps);
    event->accept();
}

void CTrendChart::keyPressEvent(QKeyEvent* event)
{
    event->ignore();
    emit keyPressed(event);
    if (!event->isAccepted())
        QChartView::keyPressEvent(event);
}

void CTrendChart::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    emit hovered(QPointF(-1, -1));
}

CTrendPane::CTrendPane(const RunRecord& record, QWidget* parent)
    : QWidget(parent), m_record(record), m_chart(new QChart), m_time(new QCategoryAxis), m_share(new QValueAxis)
{
    setObjectName(QStringLiteral("trendPane"));
    m_chart->legend()->hide();
    // Room on the right for the half of the last time label that passes the plot.
    m_chart->setMargins(QMargins(4, 4, 32, 4));
    m_chart->setBackgroundRoundness(0);
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_time->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    m_time->setRange(0, AxisSpan);
    m_time->setTitleText(tr("Simulation time"));
    m_share->setRange(0, 100);
    m_share->setTickCount(5);
    m_share->setLabelFormat(QStringLiteral("%.0f%%"));
    m_share->setTitleText(tr("% of range"));
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_chart->addAxis(m_share, Qt::AlignLeft);

    m_view = new CTrendChart(m_chart);
    m_view->setObjectName(QStringLiteral("trendChart"));
    m_view->viewport()->installEventFilter(this);
    // The chart's size follows the pane, never its labels: a change of the axis must not lay the
    // monitor's other panes out again.
    m_view->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    m_view->setMinimumSize(160, 120);
    m_followBar = new CFollowBar(m_view);
    m_tags = new QListWidget;
    m_tags->setObjectName(QStringLiteral("trendTags"));
    m_tags->setToolTip(tr("The tags whose curves are drawn"));

    auto* split = new QSplitter(Qt::Horizontal);
    split->addWidget(m_view);
    split->addWidget(m_tags);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    split->setSizes({400, 140});
    split->setChildrenCollapsible(false);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    connect(m_view, &CTrendChart::foregroundPainting, this, &CTrendPane::paintMarkers);
    connect(m_view, &CTrendChart::pressedAt, this, &CTrendPane::onPressed);
    connect(m_view, &CTrendChart::draggedBy, this, [this](double dx) {
        const double width = plotArea().width();
        if (width > 0)
            pan(-dx / width);
    });
    connect(m_view, &CTrendChart::wheeled, this,
            [this](QPointF at, int steps) { zoom(std::pow(0.8, steps), timeAt(at.x())); });
    connect(m_view, &CTrendChart::hovered, this, [this](QPointF at) {
        m_hover = plotArea().contains(at) ? at : QPointF(-1, -1);
        m_view->viewport()->update();
    });
    connect(m_view, &CTrendChart::keyPressed, this, &CTrendPane::onKey);
    connect(m_followBar, &CFollowBar::resumeRequested, this, [this] { setFollowing(true); });
    connect(m_tags, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const int tag = m_tags->row(item);
        if (tag >= 0 && std::size_t(tag) < m_curves.size())
            m_curves[std::size_t(tag)]->setVisible(item->checkState() == Qt::Checked);
        redraw();
    });

    m_refresh.setInterval(RefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, [this] {
        if (isVisible())
            refresh();
    });
    m_refresh.start();
}

bool CTrendPane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view->viewport()) {
        if (event->type() == QEvent::Resize)
            m_followBar->place();
        else if (event->type() == QEvent::Leave) {
            m_hover = QPointF(-1, -1);
            m_view->viewport()->update();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CTrendPane::clearHover()
{
    m_hover = QPointF(-1, -1);
    m_view->viewport()->update();
}

QLineSeries* CTrendPane::curve(int tag) const
{
    return tag >= 0 && std::size_t(tag) < m_curves.size() ? m_curves[std::size_t(tag)] : nullptr;
}

QString CTrendPane::timeText(double t, double step)
{
    if (!std::isfinite(t))
        return QString();
    QString text;
    if (isCalendarTime(t, kernelClockNow()))
        text =
            QDateTime::fromMSecsSinceEpoch(qint64(std::floor(t)) * 1000).toString(QStringLiteral("dd-MM-yy hh:mm:ss"));
    else
        text = formatElapsedTime(t);
    if (step < 1) {
        const int tenths = std::min(9, int(std::lround(std::abs(t - std::trunc(t)) * 10)));
        text += QLatin1Char('.') + QString::number(tenths);
    }
    return text;
}

QRectF CTrendPane::plotArea() const
{
    return m_chart->plotArea();
}

double CTrendPane::timeAt(double x) const
{
    const QRectF plot = plotArea();
    if (plot.width() <= 0)
        return m_from;
    return m_from + (x - plot.left()) / plot.width() * (m_to - m_from);
}

double CTrendPane::xOf(double time) const
{
    return markerPlace().at(time);
}

void CTrendPane::syncTags()
{
    const QStringList tags = m_record.tags();
    const QSignalBlocker blocker(m_tags);
    for (int k = int(m_curves.size()); k < tags.size(); ++k) {
        const QColor colour = curveColours[std::size_t(k) % std::size(curveColours)];
        auto* series = new QLineSeries;
        series->setName(tags.at(k));
        // One pixel wide whatever the scale: Qt paints such lines without stroking them.
        QPen pen(colour);
        pen.setCosmetic(true);
        pen.setWidth(1);
        series->setPen(pen);
        m_chart->addSeries(series);
        series->attachAxis(m_time);
        series->attachAxis(m_share);
        series->setVisible(k < MaxShown);
        m_curves.push_back(series);
        m_ranges.emplace_back(0.0, 0.0);
        auto* item = new QListWidgetItem(swatch(colour), tags.at(k), m_tags);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(k < MaxShown ? Qt::Checked : Qt::Unchecked);
    }
}

void CTrendPane::refresh()
{
    std::size_t shown = 0;
    for (std::size_t k = 0; k < m_curves.size(); ++k)
        shown = shown * 2 + (m_curves[k]->isVisible() ? 1 : 0);
    const auto now = std::make_tuple(m_record.pointCount(), m_record.firings().size(), m_from, m_to, plotArea().width(),
                                     unsigned(shown));
    if (now != m_drawn || m_dirty || std::size_t(m_record.tags().size()) != m_curves.size())
        redraw();
}

void CTrendPane::redraw()
{
    syncTags();
    if (m_following) {
        const double first = m_record.firstTime();
        const double last = m_record.lastTime();
        m_from = first;
        m_to = last > first ? last : first + 1;
    }
    // The tool tips set below are no change of a check box.
    const QSignalBlocker quiet(m_tags);
    const QRectF plot = plotArea();
    const int columns = std::max(1, int(plot.width()) / 2);
    // The envelope's intervals are half open: the end of the view is taken in.
    const double end = std::nextafter(m_to, std::numeric_limits<double>::infinity());
    std::size_t shown = 0;
    std::vector<QList<QPointF>> drawn(m_curves.size());
    // Qt Charts gets the view as 0 to AxisSpan, whatever times it shows: its axis keeps its range, so
    // a new view lays each curve out once (for its new points), not once more for the range.
    const double toAxis = AxisSpan / (m_to - m_from);
    // A tag the program writes changes only when written: its curve holds each value until the
    // next. A tag only read is a measurement, drawn straight from sample to sample.
    std::set<int> written;
    for (const RunRecord::Firing& f : m_record.firings()) {
        if (f.wrote)
            written.insert(m_record.writtenTag(f.line));
    }
    for (std::size_t k = 0; k < m_curves.size(); ++k) {
        QLineSeries* series = m_curves[k];
        shown = shown * 2 + (series->isVisible() ? 1 : 0);
        if (!series->isVisible())
            continue;
        const std::vector<RunRecord::Bucket> buckets = m_record.envelope(int(k), m_from, end, columns);
        double low = std::numeric_limits<double>::infinity();
        double high = -low;
        for (const RunRecord::Bucket& b : buckets) {
            low = std::min(low, b.min);
            high = std::max(high, b.max);
        }
        m_ranges[k] = {low, high};
        const double span = high - low;
        auto share = [&](double v) { return span > 0 ? (v - low) / span * 100.0 : 50.0; };
        QList<QPointF>& points = drawn[k];
        points.reserve(qsizetype(buckets.size() * 2));
        // A written value holds until the next one: across columns without a point the curve stays
        // level and steps where the next value comes, and the last one holds to the latest time
        // recorded.
        const bool holds = written.count(int(k)) != 0;
        double lastTo = -std::numeric_limits<double>::infinity();
        for (const RunRecord::Bucket& b : buckets) {
            const double mid = ((b.from + b.to) / 2 - m_from) * toAxis;
            if (holds && !points.isEmpty() && b.from > lastTo + (b.to - b.from) / 2)
                points.append(QPointF(mid, points.constLast().y()));
            points.append(QPointF(mid, share(b.min)));
            if (b.max != b.min)
                points.append(QPointF(mid, share(b.max)));
            lastTo = b.to;
        }
        if (holds && !points.isEmpty()) {
            const double held = (std::min(end, m_record.lastTime()) - m_from) * toAxis;
            if (held > points.constLast().x())
                points.append(QPointF(held, points.constLast().y()));
        }
        if (QListWidgetItem* item = m_tags->item(int(k)))
            item->setToolTip(plainTip(buckets.empty() ? m_record.tags().at(int(k))
                                                      : tr("%1: %2 to %3 in view")
                                                            .arg(m_record.tags().at(int(k)), LiveLines::number(low),
                                                                 LiveLines::number(high))));
    }
    updateTimeAxis();
    for (std::size_t k = 0; k < m_curves.size(); ++k) {
        if (m_curves[k]->isVisible())
            m_curves[k]->replace(drawn[k]);
    }
    m_drawn =
        std::make_tuple(m_record.pointCount(), m_record.firings().size(), m_from, m_to, plot.width(), unsigned(shown));
    m_dirty = false;
    m_view->viewport()->update();
}

QStringList CTrendPane::tags() const
{
    return m_record.tags();
}

void CTrendPane::updateTimeAxis()
{
    // Every change of the labels lays the chart out again.
    const auto axis = std::make_tuple(m_from, m_to, plotArea().width());
    if (axis == m_axisDrawn && !m_time->categoriesLabels().isEmpty())
        return;
    m_axisDrawn = axis;
    for (const QString& label : m_time->categoriesLabels())
        m_time->remove(label);
    const double span = m_to - m_from;
    const QFontMetrics metrics(m_time->labelsFont());
    const double wide = metrics.horizontalAdvance(timeText(m_to, 1)) + 24.0;
    const double count = std::max(1.0, plotArea().width() / wide);
    double step = 0;
    for (double s : timeSteps) {
        if (s * count >= span) {
            step = s;
            break;
        }
    }
    if (step == 0)
        step = std::ceil(span / count / 86400.0) * 86400.0;
    m_time->setStartValue(0);
    for (double t = std::ceil(m_from / step) * step; t <= m_to; t += step)
        m_time->append(timeText(t, step), (t - m_from) / span * AxisSpan);
}

void CTrendPane::setFollowing(bool following)
{
    if (following != m_following) {
        m_following = following;
        m_view->setStripMargin(following ? 0 : m_followBar->stripHeight());
        m_followBar->setVisible(!following);
        m_followBar->place();
    }
    if (following)
        redraw();
}

void CTrendPane::setView(double from, double to)
{
    if (!(to > from) || !std::isfinite(from) || !std::isfinite(to))
        return;
    setFollowing(false);
    m_from = from;
    m_to = to;
    redraw();
}

void CTrendPane::zoom(double factor, double centre)
{
    const double from = centre - (centre - m_from) * factor;
    const double to = centre + (m_to - centre) * factor;
    // Not below a millisecond: the times are then no longer told apart.
    if (to - from < 1e-3)
        return;
    setView(from, to);
}

void CTrendPane::pan(double share)
{
    const double by = (m_to - m_from) * share;
    setView(m_from + by, m_to + by);
}

void CTrendPane::setHighlightedLines(const std::set<int>& lines)
{
    if (lines == m_highlighted)
        return;
    m_highlighted = lines;
    m_view->viewport()->update();
}

CTrendPane::MarkerPlace CTrendPane::markerPlace() const
{
    const QRectF plot = plotArea();
    return MarkerPlace{plot.left(), m_from, m_to, plot.width()};
}

double CTrendPane::markerX(int firing) const
{
    const auto& firings = m_record.firings();
    if (firing < 0 || std::size_t(firing) >= firings.size())
        return -1;
    return markerPlace().x(firings[std::size_t(firing)].time);
}

int CTrendPane::firingNear(double x) const
{
    const auto& firings = m_record.firings();
    int nearest = -1;
    double best = MarkerReach + 0.5;
    const MarkerPlace place = markerPlace();
    int k = 0;
    for (const RunRecord::Firing& f : firings) {
        const double at = place.x(f.time);
        // Of firings drawn on one another, the latest is on top.
        if (at >= 0 && std::abs(at - x) <= best) {
            best = std::abs(at - x);
            nearest = k;
        }
        ++k;
    }
    return nearest;
}

void CTrendPane::onPressed(QPointF position, Qt::MouseButton button)
{
    if (button != Qt::LeftButton || !plotArea().adjusted(-MarkerReach, 0, MarkerReach, 0).contains(position))
        return;
    const int firing = firingNear(position.x());
    if (firing < 0)
        return;
    const int line = m_record.firings()[std::size_t(firing)].line;
    setHighlightedLines({line});
    emit lineClicked(line);
}

void CTrendPane::onKey(QKeyEvent* event)
{
    const double centre = (m_from + m_to) / 2;
    switch (event->key()) {
    case Qt::Key_End:
        setFollowing(true);
        break;
    case Qt::Key_Home:
        setView(m_record.firstTime(), std::max(m_record.lastTime(), m_record.firstTime() + 1));
        break;
    case Qt::Key_Left:
        pan(-0.1);
        break;
    case Qt::Key_Right:
        pan(0.1);
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
    case Qt::Key_Up:
        zoom(0.8, centre);
        break;
    case Qt::Key_Minus:
    case Qt::Key_Down:
        zoom(1.25, centre);
        break;
    default:
        return;
    }
    event->accept();
}

bool CTrendPane::valueAt(int tag, double t, double* value) const
{
    const double first = m_record.firstTime();
    if (t < first)
        return false;
    const QRectF plot = plotArea();
    double width = std::max(1e-9, (m_to - m_from) / std::max(1.0, plot.width()) * 2);
    for (int tries = 0; tries < 64; ++tries) {
        const std::vector<RunRecord::Point> points = m_record.points(tag, t - width, t);
        if (!points.empty()) {
            *value = points.back().value;
            return true;
        }
        if (t - width < first)
            return false;
        width *= 8;
    }
    return false;
}

QString CTrendPane::hoverText(double x) const
{
    const double t = timeAt(x);
    QStringList lines{timeText(t, (m_to - m_from) < 10 ? 0.1 : 1.0)};
    const QStringList names = m_record.tags();
    for (std::size_t k = 0; k < m_curves.size(); ++k) {
        double value = 0;
        if (m_curves[k]->isVisible() && valueAt(int(k), t, &value))
            lines << names.at(int(k)) + QStringLiteral("  ") + LiveLines::number(value);
    }
    const auto& firings = m_record.firings();
    const MarkerPlace place = markerPlace();
    for (const RunRecord::Firing& f : firings) {
        const double at = place.x(f.time);
        if (at < 0 || std::abs(at - x) > MarkerReach)
            continue;
        lines << (f.wrote ? tr("line %1 fired, wrote %2").arg(f.line).arg(LiveLines::number(f.value))
                          : tr("line %1 fired").arg(f.line));
    }
    return lines.join(QLatin1Char('\n'));
}

void CTrendPane::paintMarkers(QPainter* painter)
{
    const QRectF plot = plotArea();
    const auto& firings = m_record.firings();
    painter->save();
    painter->setClipRect(plot.adjusted(-1, -plot.top(), 1, 1));
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.85));
    painter->setFont(small);
    const QFontMetricsF metrics(small);
    const QColor plain(110, 110, 110);
    const QColor strong = palette().color(QPalette::Highlight);
    // Plain markers first, highlighted ones over them; a label is left out where it would cover the
    // one before it. Markers on one pixel column are one line, so a flood of firings costs what the
    // plot's width does.
    for (int pass = 0; pass < 2; ++pass) {
        const bool lit = pass == 1;
        if (lit && m_highlighted.empty())
            break;
        QPen pen(lit ? strong : plain);
        pen.setWidthF(lit ? 2.0 : 1.0);
        pen.setStyle(lit ? Qt::SolidLine : Qt::DashLine);
        painter->setPen(pen);
        double labelEnd = -std::numeric_limits<double>::infinity();
        long lastColumn = std::numeric_limits<long>::min();
        const MarkerPlace place = markerPlace();
        for (const RunRecord::Firing& f : firings) {
            if (!m_highlighted.empty() && (m_highlighted.count(f.line) > 0) != lit)
                continue;
            const double x = place.x(f.time);
            if (x < 0)
                continue;
            const long column = std::lround(x);
            if (column != lastColumn)
                painter->drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            lastColumn = column;
            if (x + 2 <= labelEnd)
                continue;
            const QString label = QString::number(f.line);
            const double width = metrics.horizontalAdvance(label);
            // A highlighted label covers the plain ones under it.
            if (lit)
                painter->fillRect(QRectF(x + 1, plot.top(), width + 2, metrics.height()),
                                  palette().color(QPalette::Base));
            painter->drawText(QPointF(x + 2, plot.top() + metrics.ascent()), label);
            labelEnd = x + 2 + width + 2;
        }
    }
    if (m_hover.x() >= 0) {
        painter->setPen(QPen(palette().color(QPalette::Text), 1, Qt::DotLine));
        painter->drawLine(QPointF(m_hover.x(), plot.top()), QPointF(m_hover.x(), plot.bottom()));
        const QString text = hoverText(m_hover.x());
        painter->setFont(font());
        QRectF box = painter->boundingRect(QRectF(0, 0, 1000, 1000), Qt::AlignLeft | Qt::TextDontClip, text);
        box.adjust(-6, -4, 6, 4);
        // Beside the cursor, inside the plot.
        QPointF corner(m_hover.x() + 12, m_hover.y() + 12);
        if (corner.x() + box.width() > plot.right())
            corner.setX(m_hover.x() - 12 - box.width());
        if (corner.y() + box.height() > plot.bottom())
            corner.setY(std::max(plot.top(), plot.bottom() - box.height()));
        box.moveTopLeft(corner);
        painter->setClipping(false);
        painter->setPen(palette().color(QPalette::ToolTipText));
        painter->setBrush(palette().color(QPalette::ToolTipBase));
        painter->drawRect(box);
        painter->drawText(box.adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop, text);
    }
    painter->restore();
}
