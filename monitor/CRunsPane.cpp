#include "monitor/CRunsPane.h"

#include "core/AppCore.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/RunsTable.h"

#include <QHeaderView>
#include <QMenu>
#include <QTreeWidget>

CRunsPane::CRunsPane(QWidget* parent) : QDockWidget(tr("Runs"), parent)
{
    setObjectName(QStringLiteral("runsPane"));
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    m_refresh.setInterval(RefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &CRunsPane::refresh);
    // Hidden, the pane still looks now and then for a monitor closed with Keep running, and shows
    // itself so that the program can be found again.
    m_watch.setInterval(RefreshMs);
    connect(&m_watch, &QTimer::timeout, this, [this] {
        const AppCore* core = AppCore::instance();
        if (!core)
            return;
        for (const auto& record : core->monitors) {
            if (record->windowClosed && record->state != MonitorState::Finished &&
                !m_announced.contains(record->document)) {
                show();
                raise();
                return;
            }
        }
    });
    m_watch.start();
}

QTreeWidget* CRunsPane::table()
{
    // Made when first needed: most starts never show the pane.
    if (m_table)
        return m_table;
    m_table = new QTreeWidget(this);
    m_table->setRootIsDecorated(false);
    m_table->setUniformRowHeights(true);
    m_table->setHeaderLabels(RunsTable::headers());
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->header()->setStretchLastSection(false);
    setWidget(m_table);
    connect(m_table, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { showMonitor(m_table->indexOfTopLevelItem(item)); });
    connect(m_table, &QWidget::customContextMenuRequested, this, &CRunsPane::contextMenu);
    return m_table;
}

void CRunsPane::refresh()
{
    QTreeWidget* rows = table();
    const AppCore* core = AppCore::instance();
    m_rows.clear();
    int row = 0;
    if (core) {
        for (const auto& record : core->monitors) {
            const QString name = record->document ? record->document->defaultTitle() : QString();
            const QStringList cells = RunsTable::row(RunsTable::factsOf(*record, name));
            QTreeWidgetItem* item = rows->topLevelItem(row);
            if (!item)
                item = new QTreeWidgetItem(rows);
            for (int c = 0; c < cells.size(); ++c) {
                if (item->text(c) != cells.at(c))
                    item->setText(c, cells.at(c));
            }
            m_rows.push_back(record->document);
            if (record->windowClosed && record->state != MonitorState::Finished)
                m_announced.insert(record->document);
            ++row;
        }
    }
    while (rows->topLevelItemCount() > row)
        delete rows->takeTopLevelItem(row);
    // A closed monitor's address may come back for a new one.
    QSet<const CMonitorDoc*> current;
    for (const auto& doc : m_rows)
        current.insert(doc.data());
    m_announced.intersect(current);
}

CMonitorDoc* CRunsPane::monitorAt(int row) const
{
    return row >= 0 && static_cast<std::size_t>(row) < m_rows.size() ? m_rows[static_cast<std::size_t>(row)].data()
                                                                     : nullptr;
}

void CRunsPane::showMonitor(int row)
{
    if (CMonitorDoc* doc = monitorAt(row)) {
        m_announced.remove(doc);
        doc->showWindows();
    }
    refresh();
}

void CRunsPane::stopMonitor(int row)
{
    if (CMonitorDoc* doc = monitorAt(row))
        doc->requestStop();
    refresh();
}

void CRunsPane::closeMonitor(int row)
{
    if (CMonitorDoc* doc = monitorAt(row))
        doc->closeWindows();
    refresh();
}

void CRunsPane::contextMenu(const QPoint& at)
{
    QTreeWidgetItem* item = m_table->itemAt(at);
    if (!item)
        return;
    const int row = m_table->indexOfTopLevelItem(item);
    const CMonitorDoc* doc = monitorAt(row);
    const AppCore* core = AppCore::instance();
    bool running = false;
    if (core) {
        for (const auto& record : core->monitors) {
            if (record->document == doc)
                running = record->state != MonitorState::Finished;
        }
    }
    QMenu menu(this);
    menu.addAction(tr("&Show"), this, [this, row] { showMonitor(row); });
    menu.addAction(tr("S&top"), this, [this, row] { stopMonitor(row); })->setEnabled(running);
    menu.addAction(tr("&Close"), this, [this, row] { closeMonitor(row); });
    menu.exec(m_table->viewport()->mapToGlobal(at));
}

void CRunsPane::showEvent(QShowEvent* event)
{
    QDockWidget::showEvent(event);
    refresh();
    m_refresh.start();
}

void CRunsPane::hideEvent(QHideEvent* event)
{
    QDockWidget::hideEvent(event);
    m_refresh.stop();
}
