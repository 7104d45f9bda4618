#pragma once

#include "framework/CommandTarget.h"
#include "core/AppCore.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

class CDocument;
class CMainFrame;
class CStatusBar;
class DocTemplate;

// The one application object: start-up and the document kinds. The fields the subsystems share
// (edit-only flag, kernel connection state, monitor records) are inherited from AppCore.
class CKelmDeskApp : public QObject, public CommandTarget, public AppCore
{
    Q_OBJECT
public:
    CKelmDeskApp();
    ~CKelmDeskApp() override;

    static CKelmDeskApp* instance();

    // The start-up sequence. args is the argument vector, the program's path first. False: the process
    // ends with exitCode() (a shell request was carried out, or start-up failed).
    bool initInstance(const QStringList& args);
    int exitCode() const { return m_exitCode; }

    // Applies the program's own switches to the settings store (and the edit-only flag).
    void parseSwitches(const QStringList& args);

    CMainFrame* mainFrame() const { return m_mainFrame.get(); }
    CStatusBar* statusBar() const;

    // Registered templates in registration order (monitor first, then program).
    const std::vector<std::unique_ptr<DocTemplate>>& templates() const { return m_templates; }
    // The template whose file-new name is name, byte for byte; null when none.
    DocTemplate* findTemplate(const QString& fileNewName) const;

    void onFileNew();
    void onFileOpen();
    // The document-open hook: programs only. Null when nothing could be opened.
    CDocument* openDocumentFile(const QString& path);
    // Offers the side files of KelmDesk processes that ended without saving, if there are any.
    void offerRecovery();
    void onAppAbout();
    void onOptions();

private:
    void registerTemplates();
    void setUpMessagePort();
    void autoLogOn();

    std::vector<std::unique_ptr<DocTemplate>> m_templates;
    std::unique_ptr<CMainFrame> m_mainFrame;
    int m_exitCode = 1;
};
