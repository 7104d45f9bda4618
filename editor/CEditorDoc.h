#pragma once

#include "core/LineNavigation.h"
#include "editor/ProgramAutosave.h"
#include "editor/ProgramFile.h"
#include "editor/RunnerStart.h"
#include "framework/CDocument.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class CEditorView;
class CProgramHighlighter;
class QTextCursor;
class QTextDocument;
class QWidget;

// A KELM program file, edited as plain text. The document owns the one QTextDocument that all its
// views show, and the Parse, Run and Insert Statement commands.
class CEditorDoc : public CDocument, public LineNavigation
{
    Q_OBJECT
public:
    CEditorDoc();
    ~CEditorDoc() override;

    QTextDocument* textDocument() const { return m_text.get(); }
    // The whole text, with "\n" line ends.
    QString text() const;
    const ProgramText::FileFormat& fileFormat() const { return m_file.format(); }
    // Colours the text and checks its lines as they change.
    CProgramHighlighter* highlighter() const { return m_highlighter; }

    bool isModified() const override;
    void setModified(bool modified) override;

    bool onNewDocument() override;
    bool onOpenDocument(const QString& path) override;
    // Writes through a temporary file renamed over the old one, so a failed save leaves the file as
    // it was. Saving over the document's own file asks first when another program changed, replaced
    // or removed it since it was opened or saved.
    bool onSaveDocument(const QString& path) override;

    // The view the statement commands and GoToLine act on: the one that last had the focus.
    CEditorView* currentView() const;
    void setCurrentView(CEditorView* view);

    void InsertStatement();
    // Puts "{" + name + "}" in place of the selection of the current view, name being what the
    // installed model-variable picker returns; nothing when it returns none.
    void insertModelVariable();

    // Chooses a model-variable name for the Insert Model Variable command (logging on first where
    // needed); nothing when the user chose none. Without a picker the command is disabled. Returns
    // the previous picker.
    using ModelVariablePicker = std::function<std::optional<QString>(QWidget* parent)>;
    static ModelVariablePicker setModelVariablePicker(ModelVariablePicker picker);
    // Opens the caret's line of view in the statement dialog and puts the result back.
    void EditStatementAtCaret(CEditorView* view);
    // line counts from 1. The caret goes to the start of that line, with an empty selection.
    void GoToLine(int line) override;
    // Saves through the Save command when modified; the outcome is not examined.
    void saveBeforeUse();

    using RunSettings = RunnerStart::Settings;
    // False when the user declined (or no runner path can be stored); then nothing is started.
    bool GetRunSettings(RunSettings& settings);
    // The saved file is checked or run by the runner; a document without a file is refused with a
    // message. In edit-only mode Parse checks the file in this process.
    void onParse();
    void onRun();

    // Side file of the unsaved changes while modified (see ProgramAutosave).
    static constexpr int AutosaveDelayMs = ProgramAutosave::DelayMs;
    static constexpr int AutosaveIdleMs = ProgramAutosave::IdleMs;
    QString autosaveFile() const { return m_autosave->file(); }
    void autosaveNow() { m_autosave->writeNow(); }
    // Puts recovered text in place of the document's as one undoable edit; the document is modified.
    void restoreText(const QString& text);

private:
    // Inserts statement at or behind the line of caret, a cursor taken before the dialog ran.
    void insertStatementText(CEditorView* view, const QTextCursor& caret, const QString& statement);
    // Replaces a range as one undo step; the caret of view ends behind the new text.
    void replaceRange(CEditorView* view, int start, int length, const QString& text);
    QWidget* dialogParent() const;
    QString nativePath() const;
    // False, after telling the user, when the document has no file the runner could be given.
    bool hasFileFor(const QString& command) const;

    std::unique_ptr<QTextDocument> m_text;
    ProgramFile m_file;
    QPointer<CEditorView> m_currentView;
    CProgramHighlighter* m_highlighter = nullptr;
    ProgramAutosave* m_autosave = nullptr;
};
