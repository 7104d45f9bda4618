#pragma once

#include <QString>

#include <vector>

class CDocument;
class QWidget;

// What a subsystem may ask of the main window without knowing it. CMainFrame implements it; tests
// can implement it too.
class MainWindowServices
{
public:
    virtual ~MainWindowServices() = default;

    // Pane indices as in res/Resource.h (Pane::...).
    virtual void setPaneText(int pane, const QString& text) = 0;
    // The parent for modal dialogs and message boxes.
    virtual QWidget* dialogParent() = 0;
    // Runs the Options dialog modally; how it was closed is not reported.
    virtual void showOptionsDialog() = 0;
    // A new, untitled document of the template whose file-new name is fileNewName, its window made
    // at once and shown once the event loop turns; null when there is no such template or the
    // document could not be made.
    virtual CDocument* newDocument(const QString& fileNewName) = 0;
    // The open documents of that template, oldest first.
    virtual std::vector<CDocument*> openDocuments(const QString& fileNewName) const = 0;
};

// Status-bar helper for the subsystems: does nothing while no main window is registered.
void setMainWindowPane(int pane, const QString& text);
// The dialog parent, or null.
QWidget* mainWindowDialogParent();
