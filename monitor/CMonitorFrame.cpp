#include "monitor/CMonitorFrame.h"

#include "framework/CommandIds.h"
#include "monitor/CMonitorConsole.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CMonitorFindBar.h"
#include "monitor/CMonitorView.h"
#include "res/Icons.h"
#include "res/Resource.h"

#include <QApplication>
#include <QSplitter>
#include <QVBoxLayout>

CMonitorFrame::CMonitorFrame(CDocument* document, QWidget* parent)
    : CChildFrame(document, parent), m_splitter(new QSplitter(Qt::Vertical))
{
    auto* monitor = qobject_cast<CMonitorDoc*>(document);
    Q_ASSERT(monitor);
    m_listing = new CMonitorView(monitor, m_splitter);
    m_console = new CMonitorConsole(monitor, m_splitter);
    m_splitter->addWidget(m_listing);
    m_splitter->addWidget(m_console);
    m_splitter->setChildrenCollapsible(false);
    // The listing starts 200 pixels high; the console takes what is left.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({200, 1});
    auto* client = new QWidget;
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_splitter, 1);
    m_findBar = new CMonitorFindBar(client);
    layout->addWidget(m_findBar);
    setWidget(client);
    setWindowIcon(Icons::window(Res::MonitorDoc));

    connect(m_findBar, &CMonitorFindBar::findRequested, this, [this](bool backward) {
        m_findBar->setNotFound(!findIn(m_findTarget ? m_findTarget : m_listing, backward));
    });
    connect(m_findBar, &CMonitorFindBar::closed, this, [this] {
        if (m_findTarget)
            m_findTarget->widget()->setFocus(Qt::OtherFocusReason);
    });
    onCommand(Cmd::EditFind, [this] { startFind(searchedPane()); });
    onCommand(Cmd::EditFindNext, [this] { findAgain(false); });
    onCommand(Cmd::FindPrevious, [this] { findAgain(true); });
}

QString CMonitorFrame::paneName(const CView* pane) const
{
    return pane == m_console ? tr("console") : tr("listing");
}

CView* CMonitorFrame::searchedPane()
{
    const QWidget* focus = QApplication::focusWidget();
    for (CView* pane : {static_cast<CView*>(m_listing), static_cast<CView*>(m_console)}) {
        if (focus && (focus == pane->widget() || pane->widget()->isAncestorOf(focus)))
            return pane;
    }
    return m_findTarget ? m_findTarget : m_listing;
}

void CMonitorFrame::startFind(CView* pane)
{
    m_findTarget = pane;
    QString selected;
    if (pane == m_listing)
        selected = m_listing->textCursor().selectedText();
    else if (pane == m_console)
        selected = m_console->selectedText();
    // A selection over more than one line is no search text (the listing marks breaks with U+2029).
    if (selected.contains(QLatin1Char('\n')) || selected.contains(QChar::ParagraphSeparator))
        selected.clear();
    m_findBar->start(paneName(pane), selected);
}

void CMonitorFrame::findAgain(bool backward)
{
    CView* pane = searchedPane();
    if (m_findBar->text().isEmpty()) {
        startFind(pane);
        return;
    }
    m_findTarget = pane;
    m_findBar->setPaneName(paneName(pane));
    const bool found = findIn(pane, backward);
    m_findBar->setNotFound(!found);
    if (!found && !m_findBar->isVisible())
        QApplication::beep();
}

bool CMonitorFrame::findIn(CView* pane, bool backward)
{
    const QString what = m_findBar->text();
    if (pane == m_console)
        return m_console->find(what, backward, m_findBar->matchCase());
    return m_listing->find(what, backward, m_findBar->matchCase());
}
