#include "app/CKelmDeskApp.h"

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/COptionsDlg.h"
#include "app/DesktopRegistration.h"
#include "app/ShellRequests.h"
#include "core/CSettingsKey.h"
#include "core/SettingNames.h"
#include "editor/Autosave.h"
#include "editor/CEditorDoc.h"
#include "editor/CEditorFrame.h"
#include "editor/CRecoveryDlg.h"
#include "framework/AppTitle.h"
#include "framework/CStatusBar.h"
#include "framework/CommandIds.h"
#include "framework/DocTemplate.h"
#include "framework/Modal.h"
#include "framework/RecentFileList.h"
#include "kernel/KernelConnection.h"
#include "kernel/KernelTime.h"
#include "model/ModelPickers.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CMonitorFrame.h"
#include "monitor/ClientRouting.h"
#include "res/Resource.h"
#include "statement/CStatementDlg.h"
#include "vmsg/vmsg.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace {
const char* const programDocString =
    "\nProgram\nKELM Program File\nKELM Files (*.kelm)\n.kelm\nKELM.Document\nKELM Document";
const char* const programFileNewName = "KELM Program File";
const char* const monitorDocString = "\nMonitor\nKELM Monitor\n\n\n\n";

constexpr int MaxFrame = 262144;
constexpr int MonitorWarmUpMs = 1500;
} // namespace

CKelmDeskApp::CKelmDeskApp()
{
    onCommand(Cmd::FileNew, [this] { onFileNew(); });
    onCommand(Cmd::FileOpen, [this] { onFileOpen(); });
    onCommand(Cmd::AppAbout, [this] { onAppAbout(); });
    onCommand(Cmd::Options, [this] { onOptions(); });
    // The editor and the statement dialog know nothing of model browsing; they get it from here.
    CEditorDoc::setModelVariablePicker(pickModelVariable);
    CStatementDlg::setTagPicker(pickTag);
    // The recent-file list shares the settings store and writes only where the store may be written.
    RecentFileList::setStoreCheck([] {
        CSettingsKey key;
        return key.open(CSettingsKey::Write);
    });
}

CKelmDeskApp::~CKelmDeskApp()
{
    // The frame goes before the templates: its windows refer to their documents.
    setMainWindow(nullptr);
    m_mainFrame.reset();
    m_templates.clear();
    CEditorDoc::setModelVariablePicker({});
    CStatementDlg::setTagPicker({});
}

CKelmDeskApp* CKelmDeskApp::instance()
{
    return dynamic_cast<CKelmDeskApp*>(AppCore::instance());
}

CStatusBar* CKelmDeskApp::statusBar() const
{
    return m_mainFrame ? m_mainFrame->statusBarPanes() : nullptr;
}

bool CKelmDeskApp::initInstance(const QStringList& args)
{
    QApplication::setOrganizationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationName(QStringLiteral("kelmdesk"));
    QGuiApplication::setDesktopFileName(QLatin1String(DesktopRegistration::AppId));
    AppTitle::set(QString::fromLatin1(Str::AppTitle));

    registerTemplates();

    m_mainFrame = std::make_unique<CMainFrame>();
    m_mainFrame->setAppTarget(this);
    setMainWindow(m_mainFrame.get());

    // The file type is registered with the desktop at every start, and the shell's requests go before
    // the program's own switches.
    DesktopRegistration::registerForUser();
    const auto open = [this](const QString& path) { return openDocumentFile(path); };
    const std::optional<int> exitCode = ShellRequests::process(args, this, m_mainFrame.get(), open);

    // A plain start creates no document, and a file named on the command line is not opened. The
    // switches are stored by a start that a shell request ends, too.
    parseSwitches(args);
    if (exitCode) {
        m_exitCode = *exitCode;
        return false;
    }

    m_mainFrame->show();
    // The automatic log-on may block for seconds: let the window paint first, in the event loop's
    // pass where the window system showed it already, at once where it shows it later.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!m_mainFrame->hasPainted())
        m_mainFrame->repaint();

    setUpMessagePort();
    autoLogOn();
    offerRecovery();
    m_mainFrame->useThemeIconsLater();
    // While the user looks at the new window: the first monitor then opens without loading fonts,
    // icons and the chart library among its program's first messages.
    if (!m_bEditOnly)
        QTimer::singleShot(MonitorWarmUpMs, m_mainFrame.get(),
                           [] { CMonitorFrame::warmUp(DocTemplate::newFrameSize()); });
    return true;
}

void CKelmDeskApp::offerRecovery()
{
    std::vector<Autosave::Entry> orphans = Autosave::claimOrphans();
    if (orphans.empty())
        return;
    CRecoveryDlg dlg(
        std::move(orphans),
        [this](const Autosave::Entry& e) {
            const bool original = !e.originalPath.isEmpty() && QFileInfo(e.originalPath).isFile();
            auto* doc = qobject_cast<CEditorDoc*>(original ? openDocumentFile(e.originalPath) : nullptr);
            if (!doc && !original) {
                DocTemplate* t = findTemplate(QStringLiteral("KELM Program File"));
                doc = t ? qobject_cast<CEditorDoc*>(t->openDocumentFile(QString())) : nullptr;
                if (doc && !e.originalPath.isEmpty())
                    doc->setPathName(e.originalPath, false);
            }
            if (!doc)
                return false;
            doc->restoreText(e.text);
            // Safe at once in this process's own side file.
            doc->autosaveNow();
            return true;
        },
        m_mainFrame.get());
    Modal::run(dlg);
    Autosave::releaseClaims();
}

void CKelmDeskApp::registerTemplates()
{
    m_templates.push_back(std::make_unique<DocTemplate>(
        Res::MonitorDoc, QString::fromLatin1(monitorDocString), [] { return std::make_unique<CMonitorDoc>(); },
        [](CDocument* d) { return new CMonitorFrame(d); }));
    m_templates.push_back(std::make_unique<DocTemplate>(
        Res::ProgramDoc, QString::fromLatin1(programDocString), [] { return std::make_unique<CEditorDoc>(); },
        [](CDocument* d) { return new CEditorFrame(d); }));
}

void CKelmDeskApp::parseSwitches(const QStringList& args)
{
    CSettingsKey key;
    key.open(CSettingsKey::Write);
    bool stores = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& token = args.at(i);
        const char* valueName = nullptr;
        bool logon = false;
        if (token == QLatin1String("-kelm")) {
            valueName = SettingName::KelmPath;
        } else if (token == QLatin1String("-path")) {
            valueName = SettingName::KelmSource;
        } else if (token == QLatin1String("-host")) {
            valueName = SettingName::DefHostname;
            logon = true;
        } else if (token == QLatin1String("-instance")) {
            valueName = SettingName::DefInstance;
            logon = true;
        } else if (token == QLatin1String("-editonly")) {
            m_bEditOnly = true;
            continue;
        } else if (token == QLatin1String("-taglist")) {
            valueName = SettingName::TagList;
        } else {
            continue;
        }
        if (i + 1 >= args.size())
            break;
        const QString& value = args.at(++i);
        // No writer stores an empty text: an empty token is consumed and changes nothing.
        if (value.isEmpty())
            continue;
        key.write(valueName, value);
        if (logon)
            key.write(SettingName::DefLogon, QStringLiteral("on"));
        stores = true;
    }
    // A switch given on the command line is answered on the command line.
    if (!key.close() && stores) {
        qWarning("kelmdesk: the settings cannot be stored in %s: %s",
                 qPrintable(QDir::toNativeSeparators(CSettingsKey::storePath())), qPrintable(key.errorText()));
    }
}

void CKelmDeskApp::setUpMessagePort()
{
    vmsgMsgPort port(0, nullptr, MaxFrame, m_bEditOnly ? 1 : 2, 0, 1);
    if (m_bEditOnly)
        return;
    port.register_client_notify(OnClientNotify, 0);
    vmsgRegisterNonReply(OnNonReplyMessage);
    vmsgSetSchedulerReentrant(false);
}

void CKelmDeskApp::autoLogOn()
{
    CSettingsKey key;
    key.open(CSettingsKey::Read);
    if (key.read(SettingName::DefLogon).value_or(QString()) == QLatin1String("on")) {
        const QString host = key.read(SettingName::DefHostname).value_or(QString::fromLatin1(SettingDefault::Hostname));
        const QString instance =
            key.read(SettingName::DefInstance).value_or(QString::fromLatin1(SettingDefault::Instance));
        LogOnKernel(host, atoiText(instance), true);
    }
    key.close();
}

DocTemplate* CKelmDeskApp::findTemplate(const QString& fileNewName) const
{
    for (const auto& t : m_templates) {
        if (t->field(DocTemplate::FileNewName) == fileNewName)
            return t.get();
    }
    return nullptr;
}

void CKelmDeskApp::onFileNew()
{
    if (DocTemplate* t = findTemplate(QString::fromLatin1(programFileNewName)))
        t->openDocumentFile(QString());
}

void CKelmDeskApp::onFileOpen()
{
    DocTemplate* t = findTemplate(QString::fromLatin1(programFileNewName));
    if (!t)
        return;
    const QString filter = t->fileDialogFilter() + QStringLiteral(";;All Files (*)");
    const QString path = Modal::getOpenFileName(m_mainFrame.get(), tr("Open"), QString(), filter);
    if (!path.isEmpty())
        openDocumentFile(path);
}

CDocument* CKelmDeskApp::openDocumentFile(const QString& path)
{
    DocTemplate* t = findTemplate(QString::fromLatin1(programFileNewName));
    return t ? t->openDocumentFile(path) : nullptr;
}

void CKelmDeskApp::onAppAbout()
{
    CAboutDlg dlg(m_mainFrame.get());
    Modal::run(dlg);
}

void CKelmDeskApp::onOptions()
{
    if (m_mainFrame) {
        m_mainFrame->showOptionsDialog();
        return;
    }
    COptionsDlg dlg(nullptr);
    Modal::run(dlg);
}
