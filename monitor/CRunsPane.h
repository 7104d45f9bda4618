#pragma once

#include <QDockWidget>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <vector>

class CMonitorDoc;
class QTreeWidget;
class QTreeWidgetItem;

// The dock with one row per monitor: program, run, state, start, elapsed simulation time, statements
// fired, kernel host and instance. A double click shows the monitor; its context menu shows, stops
// or closes it. The rows' texts are RunsTable's.
class CRunsPane : public QDockWidget
{
    Q_OBJECT
public:
    explicit CRunsPane(QWidget* parent = nullptr);

    // The table of rows, made on first use.
    QTreeWidget* table();
    // The monitor of row i, or null.
    CMonitorDoc* monitorAt(int row) const;
    // Reads the monitor records again.
    void refresh();

    // What the context menu does to the monitor of a row.
    void showMonitor(int row);
    void stopMonitor(int row);
    void closeMonitor(int row);

    static constexpr int RefreshMs = 500;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void contextMenu(const QPoint& at);

    QTreeWidget* m_table = nullptr;
    std::vector<QPointer<CMonitorDoc>> m_rows;
    // Monitors whose window was closed while their program ran, already brought to the user's eye.
    QSet<const CMonitorDoc*> m_announced;
    QTimer m_refresh;
    QTimer m_watch;
};
