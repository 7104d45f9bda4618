#include "monitor/CMonitorFrame.h"

#include "monitor/CMonitorConsole.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CMonitorView.h"
#include "res/Icons.h"
#include "res/Resource.h"

#include <QSplitter>

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
    setWidget(m_splitter);
    setWindowIcon(Icons::window(Res::MonitorDoc));
}
