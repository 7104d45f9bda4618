#pragma once

#include "framework/CommandTarget.h"

#include <QKeySequence>
#include <QList>
#include <QMainWindow>
#include <QMap>

class CChildFrame;
class CDocument;
class CView;
class QAction;
class QMdiArea;
class QMenu;
class QTimer;

// The multiple-document main window: the document area, the command actions and their routing
// and enabling, the menu sets that follow the kind of the active document, the recent files and
// the standard window commands.
class CMDIFrame : public QMainWindow, public CommandTarget
{
    Q_OBJECT
public:
    explicit CMDIFrame(QWidget* parent = nullptr);
    ~CMDIFrame() override;

    // The one main frame of the process, or null.
    static CMDIFrame* instance();
    // Runs the enabling pass soon (coalesced); safe to call from anywhere.
    static void requestCommandUpdate();

    QMdiArea* mdiArea() const { return m_mdiArea; }

    // Registers a command. prompt is "status text\ntool tip".
    QAction* addCommand(int id, const QString& caption, const QString& prompt,
                        const QList<QKeySequence>& shortcuts = {});
    QAction* action(int id) const { return m_actions.value(id); }
    QList<int> commandIds() const { return m_actions.keys(); }

    // The last target of the routing chain (the application).
    void setAppTarget(CommandTarget* target) { m_appTarget = target; }

    CChildFrame* activeChild() const;
    CDocument* activeDocument() const;
    CView* activeView() const;

    // The enabling pass: every command is enabled exactly when a target of the chain handles it
    // and its rule allows it.
    void updateCommands();
    // Runs a command through the chain; false when nothing handles it or it is disabled.
    bool runCommand(int id);

    // Menu bar contents for a menu id; the id in force follows the active document's template.
    void setMenuSet(int menuId, const QList<QMenu*>& menus);
    int currentMenuId() const { return m_currentMenuId; }
    // Adds the recent-file entries to a File menu at this point.
    void addRecentFilesTo(QMenu* menu);
    void setNoDocumentMenuId(int menuId) { m_noDocumentMenuId = menuId; }
    // Adds the list of open document windows at the end of a Window menu.
    void addWindowListTo(QMenu* menu);

    // Opens a file through the application's document-open hook.
    virtual CDocument* openDocumentFile(const QString& path) = 0;

protected:
    void closeEvent(QCloseEvent* event) override;
    virtual int menuIdFor(CChildFrame* child) const;

private:
    void onSubWindowActivated();
    void updateCaption();
    void updateMenuSet();
    void fillRecentFiles(QMenu* menu);
    const Handler* route(int id) const;
    void arrangeIcons();

    QMdiArea* m_mdiArea;
    QMap<int, QAction*> m_actions;
    QMap<int, QList<QMenu*>> m_menuSets;
    QMap<QMenu*, QAction*> m_recentPlaceholders;
    CommandTarget* m_appTarget = nullptr;
    int m_currentMenuId = -1;
    int m_noDocumentMenuId = 128;
    QTimer* m_updateTimer;
};
