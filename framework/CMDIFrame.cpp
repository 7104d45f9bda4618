#include "framework/CMDIFrame.h"

#include "framework/AppTitle.h"
#include "framework/CChildFrame.h"
#include "framework/CDocument.h"
#include "framework/CView.h"
#include "framework/CommandIds.h"
#include "framework/DocTemplate.h"
#include "framework/RecentFileList.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

namespace {
CMDIFrame* s_instance = nullptr;
}

CMDIFrame::CMDIFrame(QWidget* parent) : QMainWindow(parent), m_mdiArea(new QMdiArea(this))
{
    s_instance = this;
    m_mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdiArea);
    DocTemplate::setMdiArea(m_mdiArea);
    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, &CMDIFrame::onSubWindowActivated);
    connect(qApp, &QApplication::focusChanged, this, [] { requestCommandUpdate(); });
    connect(&RecentFileList::instance(), &RecentFileList::changed, this, &CMDIFrame::requestCommandUpdate);

    m_updateTimer = new QTimer(this);
    m_updateTimer->setSingleShot(true);
    m_updateTimer->setInterval(0);
    connect(m_updateTimer, &QTimer::timeout, this, &CMDIFrame::updateCommands);

    onCommand(Cmd::AppExit, [this] { close(); });
    onCommand(
        Cmd::ViewToolbar,
        [this] {
            for (QToolBar* t : findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly))
                t->setVisible(!t->isVisible());
        },
        {},
        [this] {
            const auto bars = findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly);
            return !bars.isEmpty() && bars.constFirst()->isVisible();
        });
    onCommand(
        Cmd::ViewStatusBar, [this] { statusBar()->setVisible(!statusBar()->isVisible()); }, {},
        [this] { return statusBar()->isVisible(); });
    auto hasChildren = [this] { return !m_mdiArea->subWindowList().isEmpty(); };
    onCommand(
        Cmd::WindowCascade, [this] { m_mdiArea->cascadeSubWindows(); }, hasChildren);
    onCommand(
        Cmd::WindowTile, [this] { m_mdiArea->tileSubWindows(); }, hasChildren);
    onCommand(
        Cmd::WindowArrange, [this] { arrangeIcons(); }, hasChildren);
    onCommand(
        Cmd::WindowNew,
        [this] {
            CDocument* d = activeDocument();
            if (d && d->docTemplate())
                d->docTemplate()->createNewFrame(d);
        },
        [this] { return activeDocument() != nullptr; });
    onCommand(
        Cmd::NextPane,
        [this] {
            if (CChildFrame* c = activeChild())
                c->activateNextView(true);
        },
        [this] { return activeChild() && activeChild()->views().size() > 1; });
    onCommand(
        Cmd::PrevPane,
        [this] {
            if (CChildFrame* c = activeChild())
                c->activateNextView(false);
        },
        [this] { return activeChild() && activeChild()->views().size() > 1; });
    for (int i = 0; i < Cmd::MruCount; ++i) {
        onCommand(
            Cmd::FileMru1 + i,
            [this, i] {
                const QStringList files = RecentFileList::instance().files();
                if (i >= files.size())
                    return;
                const QString& path = files.at(i);
                if (!openDocumentFile(path))
                    RecentFileList::instance().remove(path);
            },
            [i] { return i < RecentFileList::instance().files().size(); });
    }
}

CMDIFrame::~CMDIFrame()
{
    if (s_instance == this)
        s_instance = nullptr;
    // The base destructor hides the document windows, which would re-enter this half-destroyed frame.
    disconnect(m_mdiArea, nullptr, this, nullptr);
    DocTemplate::setMdiArea(nullptr);
}

CMDIFrame* CMDIFrame::instance()
{
    return s_instance;
}

void CMDIFrame::requestCommandUpdate()
{
    if (s_instance)
        s_instance->m_updateTimer->start();
}

QAction* CMDIFrame::addCommand(int id, const QString& caption, const QString& prompt,
                               const QList<QKeySequence>& shortcuts)
{
    auto* a = new QAction(caption, this);
    a->setObjectName(QStringLiteral("command%1").arg(id));
    a->setData(id);
    const int nl = prompt.indexOf(QLatin1Char('\n'));
    a->setStatusTip(nl < 0 ? prompt : prompt.left(nl));
    a->setToolTip(nl < 0 ? prompt : prompt.mid(nl + 1));
    if (!shortcuts.isEmpty()) {
        a->setShortcuts(shortcuts);
        a->setShortcutContext(Qt::WindowShortcut);
    }
    a->setEnabled(false);
    addAction(a); // shortcuts work whichever menu set is shown
    connect(a, &QAction::triggered, this, [this, id] { runCommand(id); });
    m_actions.insert(id, a);
    return a;
}

CChildFrame* CMDIFrame::activeChild() const
{
    return qobject_cast<CChildFrame*>(m_mdiArea->activeSubWindow());
}

CDocument* CMDIFrame::activeDocument() const
{
    CChildFrame* c = activeChild();
    return c ? c->document() : nullptr;
}

CView* CMDIFrame::activeView() const
{
    CChildFrame* c = activeChild();
    return c ? c->activeView() : nullptr;
}

const CommandTarget::Handler* CMDIFrame::route(int id) const
{
    CChildFrame* child = activeChild();
    const CommandTarget* chain[] = {child ? child->activeView() : nullptr, child ? child->document() : nullptr, child,
                                    this, m_appTarget};
    for (const CommandTarget* t : chain) {
        if (!t)
            continue;
        if (const Handler* h = t->findHandler(id))
            return h;
    }
    return nullptr;
}

void CMDIFrame::updateCommands()
{
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it) {
        const Handler* h = route(it.key());
        QAction* a = it.value();
        a->setEnabled(h && (!h->enabled || h->enabled()));
        if (h && h->checked) {
            a->setCheckable(true);
            a->setChecked(h->checked());
        }
    }
}

bool CMDIFrame::runCommand(int id)
{
    const Handler* h = route(id);
    if (!h || (h->enabled && !h->enabled()))
        return false;
    // The handler may destroy its target (closing a document), so keep a copy.
    const std::function<void()> run = h->run;
    run();
    requestCommandUpdate();
    return true;
}

void CMDIFrame::setMenuSet(int menuId, const QList<QMenu*>& menus)
{
    m_menuSets.insert(menuId, menus);
    for (QMenu* m : menus)
        connect(m, &QMenu::aboutToShow, this, &CMDIFrame::updateCommands, Qt::UniqueConnection);
    m_currentMenuId = -1;
    updateMenuSet();
}

void CMDIFrame::addRecentFilesTo(QMenu* menu)
{
    QAction* placeholder = menu->addAction(tr("Recent File"));
    placeholder->setEnabled(false);
    m_recentPlaceholders.insert(menu, placeholder);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { fillRecentFiles(menu); });
    fillRecentFiles(menu);
}

void CMDIFrame::fillRecentFiles(QMenu* menu)
{
    QAction* placeholder = m_recentPlaceholders.value(menu);
    if (!placeholder)
        return;
    for (int i = 0; i < Cmd::MruCount; ++i) {
        if (QAction* a = m_actions.value(Cmd::FileMru1 + i))
            menu->removeAction(a);
    }
    const QStringList files = RecentFileList::instance().files();
    for (int i = 0; i < files.size() && i < Cmd::MruCount; ++i) {
        QAction* a = m_actions.value(Cmd::FileMru1 + i);
        if (!a)
            continue;
        QString shown = QDir::toNativeSeparators(files.at(i));
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
        a->setStatusTip(tr("Open this document"));
        menu->insertAction(placeholder, a);
    }
    placeholder->setVisible(files.isEmpty());
}

int CMDIFrame::menuIdFor(CChildFrame* child) const
{
    if (!child || !child->document() || !child->document()->docTemplate())
        return m_noDocumentMenuId;
    const int id = child->document()->docTemplate()->resourceId();
    return m_menuSets.contains(id) ? id : m_noDocumentMenuId;
}

void CMDIFrame::updateMenuSet()
{
    const int id = menuIdFor(activeChild());
    if (id == m_currentMenuId || !m_menuSets.contains(id))
        return;
    m_currentMenuId = id;
    menuBar()->clear();
    for (QMenu* m : m_menuSets.value(id))
        menuBar()->addMenu(m);
}

void CMDIFrame::onSubWindowActivated()
{
    updateMenuSet();
    if (CChildFrame* child = activeChild()) {
        if (CDocument* d = child->document())
            connect(d, &CDocument::titleChanged, this, &CMDIFrame::updateCaption, Qt::UniqueConnection);
        // Queued: the document area restores or extends the caption itself on these changes.
        connect(child, &QMdiSubWindow::windowStateChanged, this, &CMDIFrame::updateCaption,
                static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::UniqueConnection));
    }
    updateCaption();
    updateCommands();
}

void CMDIFrame::updateCaption()
{
    const QString app = AppTitle::get();
    CChildFrame* child = activeChild();
    CDocument* d = child ? child->document() : nullptr;
    if (!d)
        setWindowTitle(CChildFrame::literalTitle(app));
    else if (child->isMaximized())
        setWindowTitle(CChildFrame::literalTitle(QStringLiteral("%1 - [%2]").arg(app, child->shownTitle())));
    else
        setWindowTitle(CChildFrame::literalTitle(QStringLiteral("%1 - %2").arg(app, d->title())));
}

void CMDIFrame::addWindowListTo(QMenu* menu)
{
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        for (QAction* a : menu->actions()) {
            if (a->property("windowListEntry").toBool()) {
                menu->removeAction(a);
                a->deleteLater();
            }
        }
        // A window its document hid (a monitor closed while its program runs) is not listed.
        QList<QMdiSubWindow*> windows = m_mdiArea->subWindowList();
        windows.removeIf(
            [](const QMdiSubWindow* w) { return w->testAttribute(Qt::WA_WState_ExplicitShowHide) && w->isHidden(); });
        if (windows.isEmpty())
            return;
        QAction* separator = menu->addSeparator();
        separator->setProperty("windowListEntry", true);
        for (int i = 0; i < windows.size(); ++i) {
            QMdiSubWindow* w = windows.at(i);
            const auto* child = qobject_cast<CChildFrame*>(w);
            QString title = child ? child->shownTitle() : w->windowTitle();
            title.replace(QLatin1Char('&'), QStringLiteral("&&"));
            QAction* a = menu->addAction(i < 9 ? QStringLiteral("&%1 %2").arg(i + 1).arg(title) : title);
            a->setProperty("windowListEntry", true);
            a->setCheckable(true);
            a->setChecked(w == m_mdiArea->activeSubWindow());
            a->setStatusTip(tr("Activate this window"));
            QPointer<QMdiSubWindow> target(w);
            connect(a, &QAction::triggered, this, [this, target] {
                if (target)
                    m_mdiArea->setActiveSubWindow(target);
            });
        }
    });
}

void CMDIFrame::arrangeIcons()
{
    int x = 0;
    const int bottom = m_mdiArea->viewport()->height();
    for (QMdiSubWindow* w : m_mdiArea->subWindowList()) {
        if (!w->isMinimized())
            continue;
        w->move(x, bottom - w->height());
        x += w->width();
    }
}

void CMDIFrame::closeEvent(QCloseEvent* event)
{
    // Every modified document is asked first; one Cancel keeps everything open.
    QList<CDocument*> documents;
    for (QMdiSubWindow* w : m_mdiArea->subWindowList()) {
        auto* child = qobject_cast<CChildFrame*>(w);
        if (child && child->document() && !documents.contains(child->document()))
            documents.append(child->document());
    }
    for (CDocument* d : documents) {
        if (!d->saveModified()) {
            event->ignore();
            return;
        }
    }
    for (CDocument* d : documents)
        d->setModified(false);
    m_mdiArea->closeAllSubWindows();
    if (!m_mdiArea->subWindowList().isEmpty()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
