#include "app/CMainFrame.h"

#include "app/CKelmDeskApp.h"
#include "app/COptionsDlg.h"
#include "app/KeyboardLocks.h"
#include "core/AppCore.h"
#include "framework/CChildFrame.h"
#include "framework/CDocument.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CRunsPane.h"
#include "monitor/Monitor.h"
#include "editor/CEditorDoc.h"
#include "editor/CProblemsPane.h"
#include "framework/CStatusBar.h"
#include "framework/CommandIds.h"
#include "framework/DocTemplate.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "framework/Printing.h"
#include "kernel/KernelConnection.h"
#include "res/Icons.h"
#include "res/Resource.h"
#include "vmsg/vmsg.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMdiArea>
#include <QMenuBar>
#include <QMimeData>
#include <QTimer>
#include <QToolBar>

namespace {

const QEvent::Type ThemeIconsEvent = QEvent::Type(QEvent::registerEventType());

struct CommandText
{
    int id;
    const char* caption;
    const char* prompt;
    std::initializer_list<QKeySequence> shortcuts;
    bool menuShowsKey = true;
};

// "&" marks the access key. A menu item shows its first shortcut after a tab (menuCaption), so each
// key is written once, here.
const CommandText commandTable[] = {
    {Cmd::FileNew, "&New", "Create a new document\nNew", {QKeySequence(Qt::CTRL | Qt::Key_N)}},
    {Cmd::FileOpen, "&Open...", "Open an existing document\nOpen", {QKeySequence(Qt::CTRL | Qt::Key_O)}},
    {Cmd::FileClose, "&Close", "Close the active document\nClose", {}},
    {Cmd::CloseFinishedMonitors,
     "Close &Finished Monitors",
     "Close all finished monitor windows\nClose finished monitors",
     {}},
    {Cmd::FileSave, "&Save", "Save the active document\nSave", {QKeySequence(Qt::CTRL | Qt::Key_S)}},
    {Cmd::FileSaveAs, "Save &As...", "Save the active document with a new name\nSave As", {}},
    {Cmd::SaveConsoleAs, "Save Co&nsole As...", "Save the monitor's console as a text file\nSave Console As", {}},
    {Cmd::ExportRunData,
     "Export Run &Data...",
     "Export the run's values and firings as CSV files\nExport Run Data",
     {}},
    {Cmd::ExportRunReport,
     "Export Run Re&port...",
     "Write the run's facts, listing, console and trend to a PDF file\nExport Run Report",
     {}},
    {Cmd::LogOn, "Lo&g On...", "Log on to a kernel\nLog on", {}},
    {Cmd::Run, "R&un", "Run KELM program\nRun", {}},
    {Cmd::Parse, "Pars&e", "Parse KELM file\nParse", {}},
    {Cmd::Stop, "&Stop", "Stop executing KELM program\nStop", {}},
    {Cmd::FilePrint, "&Print...", "Print the active document\nPrint", {QKeySequence(Qt::CTRL | Qt::Key_P)}},
    {Cmd::FilePrintPreview, "Print Pre&view", "Display full pages\nPrint Preview", {}},
    {Cmd::FilePrintSetup, "P&rint Setup...", "Change the printer and printing options\nPrint Setup", {}},
    {Cmd::AppExit, "E&xit", "Quit the application; prompts to save documents\nExit", {}},
    {Cmd::EditUndo,
     "&Undo",
     "Undo the last action\nUndo",
     {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}},
    {Cmd::EditCut,
     "Cu&t",
     "Cut the selection and put it on the Clipboard\nCut",
     {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)}},
    {Cmd::EditCopy,
     "&Copy",
     "Copy the selection and put it on the Clipboard\nCopy",
     {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)}},
    {Cmd::EditPaste,
     "&Paste",
     "Insert Clipboard contents\nPaste",
     {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)}},
    {Cmd::EditSelectAll, "Select A&ll", "Select the entire document\nSelect All", {QKeySequence(Qt::CTRL | Qt::Key_A)}},
    {Cmd::InsertModelVariable, "Insert Model &Variable...", "Insert model variable name\nInsert model variable", {}},
    {Cmd::InsertStatement,
     "Insert &Statement...",
     "Insert a new statement at or after the current position\nInsert Statement",
     {}},
    {Cmd::EditFind, "&Find...", "Find the specified text\nFind", {QKeySequence(Qt::CTRL | Qt::Key_F)}},
    {Cmd::EditFindNext, "F&ind Next", "Repeat the last find\nFind Next", {QKeySequence(Qt::Key_F3)}},
    {Cmd::FindPrevious,
     "Find Pre&vious",
     "Repeat the last find backwards\nFind Previous",
     {QKeySequence(Qt::SHIFT | Qt::Key_F3)}},
    {Cmd::EditReplace,
     "R&eplace",
     "Replace specific text with different text\nReplace",
     {QKeySequence(Qt::CTRL | Qt::Key_H)}},
    {Cmd::GoToLine, "&Go to Line...", "Move to a line by its number\nGo to Line", {QKeySequence(Qt::CTRL | Qt::Key_G)}},
    {Cmd::ViewProblems, "&Problems", "Show or hide the faulty lines of the active program\nProblems", {}},
    {Cmd::ViewRuns, "&Runs", "Show or hide the list of running and finished programs\nRuns", {}},
    {Cmd::ViewConsole, "&Console", "Show or hide the monitor's console\nConsole", {}},
    {Cmd::ViewTrend, "Tr&end", "Show or hide the monitor's trend of the tag values\nTrend", {}},
    {Cmd::ViewToolbar, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar", {}},
    {Cmd::ViewStatusBar, "&Status Bar", "Show or hide the status bar\nToggle StatusBar", {}},
    {Cmd::Options, "&Options...", "Bring up options dialog\nOptions", {}},
    {Cmd::WindowNew, "&New Window", "Open another window for the active document\nNew Window", {}},
    {Cmd::WindowCascade, "&Cascade", "Arrange windows so they overlap\nCascade Windows", {}},
    {Cmd::WindowTile, "&Tile", "Arrange windows as non-overlapping tiles\nTile Windows", {}},
    {Cmd::WindowArrange, "&Arrange Icons", "Arrange icons at the bottom of the window\nArrange Icons", {}},
    {Cmd::AppAbout, "&About KelmDesk...", "Display program information, version number and copyright\nAbout", {}},
    {Cmd::NextPane, "Next Pane", "Switch to the next window pane\nNext Pane", {QKeySequence(Qt::Key_F6)}, false},
    {Cmd::PrevPane,
     "Previous Pane",
     "Switch back to the previous window pane\nPrevious Pane",
     {QKeySequence(Qt::SHIFT | Qt::Key_F6)},
     false},
};

MonitorRecord* firstFinishedMonitor()
{
    AppCore* core = AppCore::instance();
    if (!core)
        return nullptr;
    for (auto& record : core->monitors) {
        if (record->state == MonitorState::Finished)
            return record.get();
    }
    return nullptr;
}

bool hasFinishedMonitor()
{
    return firstFinishedMonitor() != nullptr;
}

QString menuCaption(const CommandText& c)
{
    QString caption = QString::fromLatin1(c.caption);
    if (c.menuShowsKey && c.shortcuts.size() > 0)
        caption += QLatin1Char('\t') + c.shortcuts.begin()->toString(QKeySequence::PortableText);
    return caption;
}

constexpr int Sep = 0;
constexpr int Recent = -1;

struct MenuText
{
    const char* title;
    std::initializer_list<int> items;
};

const MenuText fileMenu128 = {
    "&File", {Cmd::FileNew, Cmd::FileOpen, Cmd::LogOn, Sep, Cmd::FilePrintSetup, Sep, Recent, Sep, Cmd::AppExit}};
const MenuText fileMenu129 = {"&File",
                              {Cmd::FileNew, Cmd::FileOpen, Cmd::FileClose, Cmd::CloseFinishedMonitors, Cmd::FileSave,
                               Cmd::FileSaveAs, Sep, Cmd::LogOn, Cmd::Run, Cmd::Parse, Sep, Cmd::FilePrint,
                               Cmd::FilePrintPreview, Cmd::FilePrintSetup, Sep, Recent, Sep, Cmd::AppExit}};
const MenuText fileMenu130 = {"&File",
                              {Cmd::FileNew, Cmd::FileOpen, Cmd::FileClose, Cmd::CloseFinishedMonitors,
                               Cmd::SaveConsoleAs, Cmd::ExportRunData, Cmd::ExportRunReport, Sep, Cmd::LogOn, Cmd::Stop,
                               Sep, Cmd::FilePrint, Cmd::FilePrintPreview, Cmd::FilePrintSetup, Sep, Recent, Sep,
                               Cmd::AppExit}};
const MenuText editMenu129 = {"&Edit",
                              {Cmd::EditUndo, Sep, Cmd::EditCut, Cmd::EditCopy, Cmd::EditPaste, Cmd::EditSelectAll, Sep,
                               Cmd::InsertModelVariable, Cmd::InsertStatement, Sep, Cmd::EditFind, Cmd::EditFindNext,
                               Cmd::EditReplace, Sep, Cmd::GoToLine}};
const MenuText editMenu130 = {
    "&Edit", {Cmd::EditCopy, Cmd::EditSelectAll, Sep, Cmd::EditFind, Cmd::EditFindNext, Cmd::FindPrevious}};
const MenuText viewMenu = {"&View",
                           {Cmd::ViewToolbar, Cmd::ViewStatusBar, Cmd::Options, Sep, Cmd::ViewProblems, Cmd::ViewRuns}};
const MenuText viewMenu130 = {"&View",
                              {Cmd::ViewToolbar, Cmd::ViewStatusBar, Cmd::Options, Sep, Cmd::ViewProblems,
                               Cmd::ViewRuns, Sep, Cmd::ViewConsole, Cmd::ViewTrend}};
const MenuText windowMenu = {"&Window", {Cmd::WindowNew, Cmd::WindowCascade, Cmd::WindowTile, Cmd::WindowArrange}};
const MenuText helpMenu = {"&Help", {Cmd::AppAbout}};

const int toolBarButtons[] = {
    Cmd::FileNew,  Cmd::FileOpen,  Cmd::FileSave, Sep, Cmd::Parse,           Cmd::Run, Cmd::Stop,     Sep, Cmd::EditCut,
    Cmd::EditCopy, Cmd::EditPaste, Cmd::EditUndo, Sep, Cmd::InsertStatement, Sep,      Cmd::FilePrint};

} // namespace

CMainFrame::CMainFrame(QWidget* parent) : CMDIFrame(parent)
{
    setWindowTitle(QString::fromLatin1(Str::AppTitle));
    setWindowIcon(Icons::window(Res::MainFrame));
    setAcceptDrops(true);
    setNoDocumentMenuId(Res::MainFrame);
    createCommands();
    createMenus();
    createToolBar();
    createStatusBar();
    createProblemsPane();
    createRunsPane();

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("schedulerTimer"));
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &CMainFrame::onTimer);
    m_timer->start(FirstTickMs);
    resize(900, 640);
    updateCommands();
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::createCommands()
{
    for (const CommandText& c : commandTable) {
        QAction* a = addCommand(c.id, menuCaption(c), QString::fromLatin1(c.prompt), c.shortcuts);
        a->setIcon(Icons::command(c.id));
        a->setIconVisibleInMenu(false);
    }
    for (int i = 0; i < Cmd::MruCount; ++i)
        addCommand(Cmd::FileMru1 + i, QString(), QStringLiteral("Open this document"));

    onCommand(Cmd::FilePrintSetup, [this] { Printing::pageSetup(this); });
    onCommand(
        Cmd::CloseFinishedMonitors, [this] { CloseFinishedMonitors(); }, [] { return hasFinishedMonitor(); });
    onCommand(
        Cmd::LogOn, [] { onLogOn(); },
        [] { return CKelmDeskApp::instance() && !CKelmDeskApp::instance()->m_bEditOnly; });
}

void CMainFrame::useThemeIcons()
{
    for (const CommandText& c : commandTable) {
        const QIcon icon = Icons::themeCommand(c.id);
        if (!icon.isNull())
            action(c.id)->setIcon(icon);
    }
}

void CMainFrame::useThemeIconsLater()
{
    // Below the priority of the posted update requests, so the window paints first.
    QCoreApplication::postEvent(this, new QEvent(ThemeIconsEvent), Qt::LowEventPriority - 1);
}

bool CMainFrame::event(QEvent* event)
{
    if (event->type() == ThemeIconsEvent) {
        useThemeIcons();
        return true;
    }
    if (event->type() == QEvent::Paint)
        m_painted = true;
    return CMDIFrame::event(event);
}

void CMainFrame::createMenus()
{
    auto build = [this](const MenuText& text) {
        auto* menu = new QMenu(tr(text.title), this);
        for (int id : text.items) {
            if (id == Sep)
                menu->addSeparator();
            else if (id == Recent)
                addRecentFilesTo(menu);
            else
                menu->addAction(action(id));
        }
        if (&text == &windowMenu)
            addWindowListTo(menu);
        return menu;
    };
    setMenuSet(Res::MainFrame, {build(fileMenu128), build(viewMenu), build(helpMenu)});
    setMenuSet(Res::ProgramDoc,
               {build(fileMenu129), build(editMenu129), build(viewMenu), build(windowMenu), build(helpMenu)});
    setMenuSet(Res::MonitorDoc,
               {build(fileMenu130), build(editMenu130), build(viewMenu130), build(windowMenu), build(helpMenu)});
}

void CMainFrame::createToolBar()
{
    m_toolBar = new QToolBar(tr("Toolbar"), this);
    m_toolBar->setObjectName(QStringLiteral("toolBar%1").arg(Res::MainFrame));
    m_toolBar->setIconSize(QSize(16, 15));
    m_toolBar->setMovable(true);
    m_toolBar->setFloatable(true);
    m_toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (int id : toolBarButtons) {
        if (id == Sep)
            m_toolBar->addSeparator();
        else
            m_toolBar->addAction(action(id));
    }
    addToolBar(Qt::TopToolBarArea, m_toolBar);
}

void CMainFrame::createProblemsPane()
{
    m_problems = new CProblemsPane(this);
    addDockWidget(Qt::BottomDockWidgetArea, m_problems);
    m_problems->hide();
    onCommand(
        Cmd::ViewProblems,
        [this] {
            m_problems->setOpenedByUser(!m_problems->isVisible());
            if (m_problems->isVisible())
                m_problems->raise();
        },
        {}, [this] { return m_problems->isVisible(); });
    connect(m_problems, &QDockWidget::visibilityChanged, this, [] { CMDIFrame::requestCommandUpdate(); });
    // The pane follows the active program; other windows leave it with the last one.
    connect(mdiArea(), &QMdiArea::subWindowActivated, this, [this] {
        if (auto* doc = qobject_cast<CEditorDoc*>(activeDocument()))
            m_problems->setDocument(doc);
        else if (!m_problems->document())
            m_problems->setDocument(nullptr);
    });
}

void CMainFrame::createRunsPane()
{
    m_runs = new CRunsPane(this);
    addDockWidget(Qt::BottomDockWidgetArea, m_runs);
    m_runs->hide();
    onCommand(
        Cmd::ViewRuns,
        [this] {
            m_runs->setVisible(!m_runs->isVisible());
            if (m_runs->isVisible())
                m_runs->raise();
        },
        {}, [this] { return m_runs->isVisible(); });
    connect(m_runs, &QDockWidget::visibilityChanged, this, [] { CMDIFrame::requestCommandUpdate(); });
}

void CMainFrame::createStatusBar()
{
    m_statusBar = new CStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("statusBar"));
    setStatusBar(m_statusBar);
    m_statusBar->setIndicators({QString::fromLatin1(Str::Ready), QString(61, QLatin1Char(' ')),
                                QString(20, QLatin1Char(' ')) + QStringLiteral("00:00:00 "),
                                QStringLiteral("Not logged on      "), QStringLiteral("CAP"), QStringLiteral("NUM")});
    updateKeyIndicators();
}

void CMainFrame::onTimer()
{
    // Armed during the call too: a message box opened by a handler runs a nested loop, and ticks go
    // on there (the scheduler, not re-entrant, then delivers nothing).
    m_timer->start(TickMs);
    const int delivered = vmsgScheduler(SchedulerFlags);
    logRefusedClients();
    // A tick with nothing delivered changes nothing the commands depend on: what else changes them
    // (focus, documents, the clipboard, a command run) asks for a pass of its own. The lock keys
    // change without an event, so they and, as a backstop, the commands are looked at twice a second.
    const bool look = ++m_ticks % 10 == 0;
    if (look)
        updateKeyIndicators();
    if (delivered > 0 || look)
        updateCommands();
    // Re-armed after the work, so ticks follow one another about TickMs after each return.
    m_timer->start(TickMs);
}

void CMainFrame::logRefusedClients()
{
    // Clients without the port secret are never shown; the log says that they came.
    const std::size_t refused = vmsgRefusedLogOns();
    if (refused == m_refusedLogOns)
        return;
    qInfo("kelmdesk: refused %zu connection(s) without the port secret (%zu in all)", refused - m_refusedLogOns,
          refused);
    m_refusedLogOns = refused;
}

void CMainFrame::updateKeyIndicators()
{
    // A lock indicator shows its text only while the lock is on.
    m_statusBar->SetPaneText(Pane::CapsLock,
                             KeyboardLocks::isOn(KeyboardLocks::Caps) ? QStringLiteral("CAP") : QString());
    m_statusBar->SetPaneText(Pane::NumLock,
                             KeyboardLocks::isOn(KeyboardLocks::Num) ? QStringLiteral("NUM") : QString());
}

CDocument* CMainFrame::openDocumentFile(const QString& path)
{
    CKelmDeskApp* app = CKelmDeskApp::instance();
    return app ? app->openDocumentFile(path) : nullptr;
}

void CMainFrame::CloseFinishedMonitors()
{
    // Each pass closes the windows of the first finished monitor, which removes its record. A
    // monitor with several windows loses them all; one that stays (a refused close) ends the walk.
    while (MonitorRecord* record = firstFinishedMonitor()) {
        CDocument* document = record->document;
        const QList<CChildFrame*> frames = document ? document->frames() : QList<CChildFrame*>();
        for (CChildFrame* frame : frames)
            frame->close();
        if (firstFinishedMonitor() == record)
            break;
    }
    updateCommands();
}

bool CMainFrame::confirmQuitWithRuns()
{
    AppCore* core = AppCore::instance();
    if (!core || core->quitting)
        return true;
    QStringList running;
    for (const auto& record : core->monitors) {
        if (record->state == MonitorState::Finished)
            continue;
        const QString name =
            record->programName.value_or(record->document ? record->document->defaultTitle() : QString());
        running << (record->runNumber > 0 ? tr("%1 (run %2)").arg(name).arg(record->runNumber) : name);
    }
    if (running.isEmpty())
        return true;
    const auto answer = KMessageBox::show(
        tr("These programs are still running:\n\n%1\n\nStop them and quit?").arg(running.join(QLatin1Char('\n'))),
        KMessageBox::Icon::Question, QMessageBox::Yes | QMessageBox::Cancel, this,
        {{QMessageBox::Yes, tr("Stop and Quit")}});
    return answer == QMessageBox::Yes;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    AppCore* core = AppCore::instance();
    if (!confirmQuitWithRuns()) {
        event->ignore();
        return;
    }
    // The programs that run are asked to stop once every window has agreed to close.
    std::vector<int> running;
    if (core) {
        for (const auto& record : core->monitors) {
            if (record->state != MonitorState::Finished)
                running.push_back(record->socket);
        }
        core->quitting = true;
    }
    CMDIFrame::closeEvent(event);
    if (!event->isAccepted()) {
        if (core)
            core->quitting = false;
        return;
    }
    for (int socket : running)
        SendStopRequest(socket);
}

void CMainFrame::setPaneText(int pane, const QString& text)
{
    m_statusBar->SetPaneText(pane, text);
}

void CMainFrame::showOptionsDialog()
{
    COptionsDlg dlg(this);
    Modal::run(dlg);
}

CDocument* CMainFrame::newDocument(const QString& fileNewName)
{
    CKelmDeskApp* app = CKelmDeskApp::instance();
    DocTemplate* t = app ? app->findTemplate(fileNewName) : nullptr;
    return t ? t->openDocumentFile(QString(), DocTemplate::Show::Later) : nullptr;
}

std::vector<CDocument*> CMainFrame::openDocuments(const QString& fileNewName) const
{
    CKelmDeskApp* app = CKelmDeskApp::instance();
    DocTemplate* t = app ? app->findTemplate(fileNewName) : nullptr;
    return t ? t->documents() : std::vector<CDocument*>();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    const auto urls = event->mimeData()->urls();
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            openDocumentFile(url.toLocalFile());
    }
    event->acceptProposedAction();
}
