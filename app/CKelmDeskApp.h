#pragma once

#include "framework/CommandTarget.h"
#include "monitor/MonitorRecord.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

class CDocument;
class CMainFrame;
class CStatusBar;
class DocTemplate;

// The one application object: start-up, the document kinds, the edit-only flag, the kernel
// connection state and the monitor records.
class CKelmDeskApp : public QObject, public CommandTarget
{
    Q_OBJECT
public:
    CKelmDeskApp();
    ~CKelmDeskApp() override;

    static CKelmDeskApp* instance();

    // The start-up sequence. args is the argument vector, the program's path first. False: the process
    // ends with ExitCode() (a shell request was carried out, or start-up failed).
    bool InitInstance(const QStringList& args);
    int ExitCode() const { return m_exitCode; }

    // Applies the program's own switches to the settings store (and the edit-only flag).
    void ParseSwitches(const QStringList& args);

    CMainFrame* mainFrame() const { return m_mainFrame.get(); }
    CStatusBar* statusBar() const;

    // Registered templates in registration order (monitor first, then program).
    const std::vector<std::unique_ptr<DocTemplate>>& templates() const { return m_templates; }
    // The template whose file-new name is name, byte for byte; null when none.
    DocTemplate* findTemplate(const QString& fileNewName) const;

    void OnFileNew();
    void OnFileOpen();
    // The document-open hook: programs only. Null when nothing could be opened.
    CDocument* OpenDocumentFile(const QString& path);
    void OnAppAbout();
    void OnOptions();

    bool m_bEditOnly = false;
    bool calendarTime = false;
    int kernelHandle = 0;
    int pendingSocket = 0;
    std::vector<MonitorRecord*> monitors;

private:
    void registerTemplates();
    void setUpMessagePort();
    void autoLogOn();

    std::vector<std::unique_ptr<DocTemplate>> m_templates;
    std::unique_ptr<CMainFrame> m_mainFrame;
    int m_exitCode = 1;
};
