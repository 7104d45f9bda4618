#pragma once

#include "editor/CFindReplaceDlg.h"
#include "editor/CLineNumberArea.h"
#include "framework/CView.h"

#include <QPlainTextEdit>
#include <QPointer>

class QCompleter;
class QStandardItemModel;
class QTextBlock;

class CEditorDoc;

// A view of a program document: plain text in a fixed-pitch font, the standard editing, find,
// replace and print commands, and the double click that opens a line in the statement dialog.
class CEditorView : public CGutterEdit, public CView
{
    Q_OBJECT
public:
    explicit CEditorView(CEditorDoc* document, QWidget* parent = nullptr);
    ~CEditorView() override;

    QWidget* widget() override { return this; }
    CEditorDoc* editorDocument() const;
    // A view starts at the top of the text.
    void onInitialUpdate() override;
    // The shared text; the program document is editorDocument().
    QTextDocument* document() const { return QPlainTextEdit::document(); }

    // Page margins for printing: 720 twips on every side.
    static constexpr int PrintMarginTwips = 720;

    // Searches from the caret, wrapping round once; tells the user when nothing is found.
    bool findText(const CFindReplaceDlg::Options& options);
    // Replaces the selection when it is a match, then finds the next one.
    void replaceText(const CFindReplaceDlg::Options& options);
    // Replaces every match in one undo step; returns how many.
    int replaceAllText(const CFindReplaceDlg::Options& options);
    CFindReplaceDlg* findDialog() const { return m_findDialog; }
    CLineNumberArea* lineNumberArea() const { return m_lineNumbers; }
    // Asks for a line number and puts the caret there.
    void goToLineDialog();
    // Colours the lines shown and a page on either side that are not coloured yet, and keeps their
    // glyphs shaped (see keepShaped()).
    void highlightShown();

    // Completion of model-variable names: opens the list for the caret's place inside braces (empty
    // braces included); false when the caret is outside braces.
    bool openCompletion();
    QCompleter* completer() const { return m_completer; }
    // Roles of the completion list's items.
    static constexpr int InsertRole = Qt::UserRole + 1;

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    // A line separator would end a line on screen but not in the file: Shift+Enter, paste and drop
    // make plain line breaks instead.
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    // A new palette recolours the text, its underlines and the gutter.
    void changeEvent(QEvent* event) override;
    // The tool tip of a faulty line is its message.
    bool viewportEvent(QEvent* event) override;

private:
    void registerCommands();
    // Fills the list for the caret's place; hides it when there is nothing to offer.
    void refreshCompletion();
    void insertCompletion(const QModelIndex& index);
    // The tool tip of a tag: its warning, and its live value once read.
    void showTagTip(const QPoint& globalPos, const QString& name, const QString& warning);
    void showFindDialog(bool replace);
    void findAgain();
    void print(bool direct);
    void notFound(const QString& what);
    // The lines from first to last keep their shaped glyphs between paints; lines kept before and now
    // outside give theirs back.
    void keepShaped(const QTextBlock& first, const QTextBlock& last);
    void releaseShaped(int from, int to);

    bool m_undoAvailable = false;
    bool m_copyAvailable = false;
    QPointer<CFindReplaceDlg> m_findDialog;
    CLineNumberArea* m_lineNumbers = nullptr;
    int m_shapedFrom = -1; // block numbers whose glyphs are kept, inclusive; -1: none
    int m_shapedTo = -1;
    int m_blockCount = 0;
    int m_shapedDrift = 0; // lines inserted plus lines removed since the kept range was set
    QCompleter* m_completer = nullptr;
    QStandardItemModel* m_candidates = nullptr;
    bool m_completionWanted = false; // opened, and waiting for the first answer to show
    int m_tipSerial = 0;             // of the last tag tool tip; a read for an older one is not shown
};
