#pragma once

#include <QChartView>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <set>
#include <tuple>
#include <vector>

class CFollowBar;
class QCategoryAxis;
class QChart;
class QLineSeries;
class QListWidget;
class QListWidgetItem;
class QValueAxis;
class RunRecord;

// The drawing area of the trend: the curves, a marker per firing painted over them, hover texts,
// zoom and pan.
class CTrendChart : public QChartView
{
    Q_OBJECT
public:
    explicit CTrendChart(QChart* chart, QWidget* parent = nullptr);
    void setStripMargin(int height) { setViewportMargins(0, 0, 0, height); }

signals:
    void pressedAt(QPointF position, Qt::MouseButton button);
    void draggedBy(double dx);
    void wheeled(QPointF position, int steps);
    void hovered(QPointF position);
    void keyPressed(QKeyEvent* event);
    void foregroundPainting(QPainter* painter);

protected:
    void drawForeground(QPainter* painter, const QRectF& rect) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool m_dragging = false;
    double m_dragX = 0;
};

// The trend pane of a monitor: a curve per tag of the run record against simulation time, each
// scaled to its own smallest and largest value in view (the hover shows the real values), with a
// vertical marker at every firing labelled with its line. A list with a check box per tag chooses
// the curves; the first MaxShown tags start shown. While following, the view spans the whole run
// and grows with it; zooming or panning pauses following, End resumes it. The record is looked at
// RefreshMs apart and drawn again only when it or the view changed; Qt Charts gets at most two
// points per pixel column of each curve (the record's min-max envelope).
class CTrendPane : public QWidget
{
    Q_OBJECT
public:
    explicit CTrendPane(const RunRecord& record, QWidget* parent = nullptr);

    QChart* chart() const { return m_chart; }
    CTrendChart* chartView() const { return m_view; }
    QListWidget* tagList() const { return m_tags; }
    // The curve of tag (its index in the record); null before the tag was drawn.
    QLineSeries* curve(int tag) const;

    // Draws the record now, whether or not it changed.
    void redraw();
    // Draws the record when it or the view changed since the last drawing.
    void refresh();

    bool isFollowing() const { return m_following; }
    void setFollowing(bool following);
    // The simulation times at the plot's left and right edge.
    double viewFrom() const { return m_from; }
    double viewTo() const { return m_to; }
    // Shows [from, to]; pauses following.
    void setView(double from, double to);
    // Zooms by factor (below 1 zooms in) around time centre, and pans by a share of the view's
    // width; both pause following.
    void zoom(double factor, double centre);
    void pan(double share);

    // Lines whose markers are drawn highlighted (the listing's selection).
    void setHighlightedLines(const std::set<int>& lines);
    const std::set<int>& highlightedLines() const { return m_highlighted; }
    // Where the marker of firing index (in the record) is, in the chart view's coordinates; -1 when
    // it is out of view.
    double markerX(int firing) const;
    // Takes the hover box away (until the pointer moves again).
    void clearHover();
    // The texts of the hover at x in the chart view: the time and each shown tag's value, and the
    // lines that fired there.
    QString hoverText(double x) const;
    // The time the view shows at x of the chart view, and back.
    double timeAt(double x) const;
    double xOf(double time) const;

    static constexpr int MaxShown = 8;
    static constexpr int RefreshMs = 100;
    // The time axis's range as Qt Charts knows it: the view's left to right edge.
    static constexpr double AxisSpan = 1000.0;
    // How near (in pixels) a click must come to a marker to take it.
    static constexpr int MarkerReach = 4;

    // "hh:mm:ss" of an elapsed time (with tenths below a second's step), or the calendar date and
    // time a calendar time stands for.
    static QString timeText(double t, double step = 1.0);

signals:
    // A marker was clicked: the listing selects that line.
    void lineClicked(int line);

private:
    void syncTags();
    void updateTimeAxis();
    void paintMarkers(QPainter* painter);
    void onPressed(QPointF position, Qt::MouseButton button);
    void onKey(QKeyEvent* event);
    // The firing nearest to x within MarkerReach, or -1.
    int firingNear(double x) const;
    // The plot's place of times: taken once for a pass over many firings.
    struct MarkerPlace
    {
        double left, from, to, width;
        double at(double t) const { return left + (t - from) / (to - from) * width; }
        // x of a firing at time t, or -1 when it is out of view.
        double x(double t) const { return t < from || t > to ? -1 : at(t); }
    };
    MarkerPlace markerPlace() const;
    bool valueAt(int tag, double t, double* value) const;
    QRectF plotArea() const;
    QStringList tags() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const RunRecord& m_record;
    QChart* m_chart;
    CTrendChart* m_view;
    QListWidget* m_tags;
    QCategoryAxis* m_time;
    QValueAxis* m_share;
    CFollowBar* m_followBar;
    std::vector<QLineSeries*> m_curves;
    // Each curve's smallest and largest value in view, which its 0 and 100 % stand for.
    std::vector<std::pair<double, double>> m_ranges;
    std::set<int> m_highlighted;
    QTimer m_refresh;
    bool m_following = true;
    double m_from = 0;
    double m_to = 1;
    // What the last drawing was made of: points, firings, view and plot width.
    std::tuple<std::size_t, std::size_t, double, double, double, unsigned> m_drawn{};
    bool m_dirty = true;
    // The view and width the time axis was labelled for.
    std::tuple<double, double, double> m_axisDrawn{};
    // Where the pointer hovers over the plot; x below 0 when it does not.
    QPointF m_hover{-1, -1};
};
