#include "editor/CProblemsPane.h"

#include "editor/CEditorDoc.h"
#include "editor/CEditorView.h"
#include "editor/CProgramHighlighter.h"

#include <QFileInfo>
#include <QListWidget>
#include <QStyle>

namespace {

constexpr int LineRole = Qt::UserRole;

} // namespace

CProblemsPane::CProblemsPane(QWidget* parent) : QDockWidget(tr("Problems"), parent)
{
    setObjectName(QStringLiteral("problemsPane"));
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
}

QListWidget* CProblemsPane::list()
{
    // Made when first needed: a start without a program never fills the pane.
    if (m_list)
        return m_list;
    m_list = new QListWidget(this);
    m_list->setUniformItemSizes(true);
    setWidget(m_list);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &CProblemsPane::jumpTo);
    return m_list;
}

void CProblemsPane::setDocument(CEditorDoc* document)
{
    if (document == m_document && m_connection)
        return;
    disconnect(m_connection);
    m_document = document;
    if (document) {
        m_connection =
            connect(document->highlighter(), &CProgramHighlighter::problemsChanged, this, &CProblemsPane::refresh);
        // A closed program takes its list with it (queued: the pointer clears once it is gone).
        connect(document, &QObject::destroyed, this, &CProblemsPane::refresh, Qt::QueuedConnection);
    }
    refresh();
}

void CProblemsPane::setOpenedByUser(bool opened)
{
    m_openedByUser = opened;
    setVisible(opened || list()->count() > 0);
}

void CProblemsPane::closeEvent(QCloseEvent* event)
{
    m_openedByUser = false;
    QDockWidget::closeEvent(event);
}

void CProblemsPane::refresh()
{
    QListWidget* rows = list();
    rows->clear();
    if (m_document) {
        const QString name =
            m_document->pathName().isEmpty() ? m_document->title() : QFileInfo(m_document->pathName()).fileName();
        for (const CProgramHighlighter::Problem& p : m_document->highlighter()->problems()) {
            // Plain items: the message quotes the file's text, which is never read as markup.
            auto* item = new QListWidgetItem(QStringLiteral("%1:%2: %3").arg(name).arg(p.line).arg(p.message));
            item->setData(LineRole, p.line);
            if (p.warning)
                item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
            rows->addItem(item);
        }
    }
    setVisible(m_openedByUser || rows->count() > 0);
}

void CProblemsPane::jumpTo(QListWidgetItem* item)
{
    if (!item || !m_document)
        return;
    m_document->GoToLine(item->data(LineRole).toInt());
    if (CEditorView* view = m_document->currentView())
        view->setFocus();
}
