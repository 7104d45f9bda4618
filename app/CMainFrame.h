#pragma once

#include "core/MainWindowServices.h"
#include "framework/CMDIFrame.h"

#include <cstddef>

class CProblemsPane;
class CRunsPane;
class CStatusBar;
class QTimer;
class QToolBar;

// The main window: tool bar 128, the six-pane status bar, menus 128/129/130 and timer 101,
// which drives the message port.
class CMainFrame : public CMDIFrame, public MainWindowServices
{
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    CStatusBar* statusBarPanes() const { return m_statusBar; }
    QToolBar* toolBar() const { return m_toolBar; }
    CProblemsPane* problemsPane() const { return m_problems; }
    CRunsPane* runsPane() const { return m_runs; }

    CDocument* openDocumentFile(const QString& path) override;

    // Closes the window of every monitor whose program has finished.
    void CloseFinishedMonitors();
    // Gives the commands the desktop theme's icons where it has them. A lookup can take
    // milliseconds, so the start-up asks for it after the paints that are due.
    void useThemeIcons();
    void useThemeIconsLater();

    void setPaneText(int pane, const QString& text) override;
    QWidget* dialogParent() override { return this; }
    void showOptionsDialog() override;
    CDocument* newDocument(const QString& fileNewName) override;
    std::vector<CDocument*> openDocuments(const QString& fileNewName) const override;

    static constexpr int FirstTickMs = 1000;
    static constexpr int TickMs = 50;
    static constexpr int SchedulerFlags = 8454144;

    // Before quitting while programs run: lists them and asks whether to stop them. False: stay.
    bool confirmQuitWithRuns();
    // True once the window has painted itself.
    bool hasPainted() const { return m_painted; }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createCommands();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void createProblemsPane();
    void createRunsPane();
    void onTimer();
    void updateKeyIndicators();
    void logRefusedClients();

    CStatusBar* m_statusBar = nullptr;
    QToolBar* m_toolBar = nullptr;
    CProblemsPane* m_problems = nullptr;
    CRunsPane* m_runs = nullptr;
    QTimer* m_timer = nullptr;
    int m_ticks = 0;
    bool m_painted = false;
    std::size_t m_refusedLogOns = 0; // as last logged
};
