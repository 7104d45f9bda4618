#include "editor/CEditorDoc.h"
#include "editor/ProgramLayout.h"

#include "core/AppCore.h"
#include "editor/CEditorView.h"
#include "editor/CProgramHighlighter.h"
#include "editor/StatementInsertion.h"
#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "res/Resource.h"
#include "statement/CStatementDlg.h"

#include <QDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace {

bool editOnly()
{
    const AppCore* app = AppCore::instance();
    return app && app->m_bEditOnly;
}

CEditorDoc::ModelVariablePicker& modelVariablePicker()
{
    static CEditorDoc::ModelVariablePicker picker;
    return picker;
}

} // namespace

CEditorDoc::CEditorDoc() : m_text(std::make_unique<QTextDocument>())
{
    m_text->setDocumentLayout(new ProgramLayout(m_text.get()));
    m_highlighter = new CProgramHighlighter(m_text.get());
    connect(m_text.get(), &QTextDocument::modificationChanged, this, [this](bool modified) {
        CDocument::setModified(modified);
        CMDIFrame::requestCommandUpdate();
    });
    m_autosave = new ProgramAutosave(m_text.get(),
                                     {[this] { return pathName(); },
                                      [this] { return ProgramText::encodingName(m_file.format().encoding); },
                                      [this] { return m_highlighter->isColouring(); }},
                                     this);

    onCommand(
        Cmd::FileSave, [this] { doFileSave(); }, [this] { return isModified(); });
    onCommand(Cmd::InsertStatement, [this] { InsertStatement(); });
    onCommand(
        Cmd::InsertModelVariable, [this] { insertModelVariable(); },
        [] { return !editOnly() && modelVariablePicker(); });
    onCommand(Cmd::Parse, [this] { onParse(); });
    onCommand(
        Cmd::Run, [this] { onRun(); }, [] { return !editOnly(); });
}

CEditorDoc::~CEditorDoc()
{
    // Closed, saved or not: the side file has served its purpose. Gone before the text it watches.
    delete m_autosave;
}

void CEditorDoc::restoreText(const QString& text)
{
    QTextCursor all(m_text.get());
    all.select(QTextCursor::Document);
    all.insertText(text);
    m_text->setModified(true);
}

QString CEditorDoc::text() const
{
    return ProgramFile::plainText(*m_text);
}

bool CEditorDoc::isModified() const
{
    return m_text->isModified();
}

void CEditorDoc::setModified(bool modified)
{
    m_text->setModified(modified);
    CDocument::setModified(modified);
}

bool CEditorDoc::onNewDocument()
{
    m_file.clear(*m_text);
    setModified(false);
    return true;
}

bool CEditorDoc::onOpenDocument(const QString& path)
{
    if (!m_file.read(path, *m_text))
        return false;
    setModified(false);
    // A small file opens with its faulty lines already marked; a large one is checked after opening.
    m_highlighter->checkSoon();
    return true;
}

bool CEditorDoc::onSaveDocument(const QString& path)
{
    return m_file.write(path, pathName(), *m_text, dialogParent());
}

CEditorView* CEditorDoc::currentView() const
{
    if (m_currentView)
        return m_currentView;
    for (CView* v : views()) {
        if (auto* editor = dynamic_cast<CEditorView*>(v))
            return editor;
    }
    return nullptr;
}

void CEditorDoc::setCurrentView(CEditorView* view)
{
    m_currentView = view;
}

QWidget* CEditorDoc::dialogParent() const
{
    return currentView();
}

void CEditorDoc::InsertStatement()
{
    CEditorView* view = currentView();
    // The message port keeps working while the dialog is open, and a diagnostic may move the caret.
    QTextCursor caret = view ? view->textCursor() : QTextCursor();
    CStatementDlg dlg(view);
    if (Modal::run(dlg) != QDialog::Accepted)
        return;
    if (!view) {
        view = currentView();
        if (!view)
            return;
        caret = view->textCursor();
    }
    insertStatementText(view, caret, dlg.preview + QLatin1Char('\n'));
}

CEditorDoc::ModelVariablePicker CEditorDoc::setModelVariablePicker(ModelVariablePicker picker)
{
    ModelVariablePicker previous = std::move(modelVariablePicker());
    modelVariablePicker() = std::move(picker);
    return previous;
}

void CEditorDoc::insertModelVariable()
{
    const ModelVariablePicker picker = modelVariablePicker();
    CEditorView* view = currentView();
    if (!picker || !view)
        return;
    // Follows the selection through edits made while the dialogs are open.
    const QTextCursor selection = view->textCursor();
    const std::optional<QString> name = picker(view);
    if (!name)
        return;
    replaceRange(view, selection.selectionStart(), selection.selectionEnd() - selection.selectionStart(),
                 QLatin1Char('{') + *name + QLatin1Char('}'));
}

void CEditorDoc::EditStatementAtCaret(CEditorView* view)
{
    if (!view)
        return;
    const QTextCursor caret = view->textCursor();
    const QTextBlock block = caret.block();
    const QString line = block.text();
    if (line.isEmpty() || ProgramText::isCommentLine(line))
        return;

    // Follows the line through any edit made while the dialog is open.
    const QTextCursor lineStart(block);
    CStatementDlg dlg(view);
    dlg.statementText = line;
    if (Modal::run(dlg) != QDialog::Accepted)
        return;

    if (dlg.insertRequested) {
        insertStatementText(view, caret, dlg.preview + QLatin1Char('\n'));
        return;
    }
    const QTextBlock current = lineStart.block();
    if (!current.isValid() || current.position() != lineStart.position() || current.text() != line)
        return; // the line changed meanwhile; replacing it now would hit other text
    replaceRange(view, current.position(), static_cast<int>(line.size()), dlg.preview);
}

void CEditorDoc::insertStatementText(CEditorView* view, const QTextCursor& caret, const QString& statement)
{
    // The modified flag and the side file follow the edit as they follow typing.
    const QTextCursor end = StatementInsertion::insertAt(*m_text, caret, statement);
    if (view)
        view->setTextCursor(end);
}

void CEditorDoc::replaceRange(CEditorView* view, int start, int length, const QString& text)
{
    const QTextCursor end = StatementInsertion::replaceRange(*m_text, start, length, text);
    if (view)
        view->setTextCursor(end);
}

void CEditorDoc::GoToLine(int line)
{
    CEditorView* view = currentView();
    if (!view)
        return;
    const int index = std::clamp(line, 1, m_text->blockCount()) - 1;
    view->setTextCursor(QTextCursor(m_text->findBlockByNumber(index)));
    view->ensureCursorVisible();
}

void CEditorDoc::saveBeforeUse()
{
    if (isModified())
        doFileSave();
}

bool CEditorDoc::GetRunSettings(RunSettings& settings)
{
    return RunnerStart::askSettings(settings, dialogParent());
}

QString CEditorDoc::nativePath() const
{
    return QDir::toNativeSeparators(pathName());
}

bool CEditorDoc::hasFileFor(const QString& command) const
{
    if (!pathName().isEmpty())
        return true;
    KMessageBox::show(tr("%1 has not been saved as a file yet. Save it before %2.").arg(title(), command),
                      KMessageBox::Icon::Stop, QMessageBox::Ok, dialogParent());
    return false;
}

void CEditorDoc::onParse()
{
    saveBeforeUse();
    if (!hasFileFor(tr("Parse")))
        return;
    // Without the message port the runner's diagnostic could reach nobody.
    if (editOnly()) {
        RunnerStart::checkHere(nativePath(), dialogParent(), [doc = QPointer<CEditorDoc>(this)](int line) {
            if (doc)
                doc->GoToLine(line);
        });
        return;
    }
    RunSettings settings;
    if (!GetRunSettings(settings))
        return;
    RunnerStart::start(settings.runnerPath, ProgramText::parseArguments(nativePath()), dialogParent());
}

void CEditorDoc::onRun()
{
    saveBeforeUse();
    if (!hasFileFor(tr("Run")))
        return;
    RunSettings settings;
    if (!GetRunSettings(settings))
        return;
    RunnerStart::startRun(settings, nativePath(), dialogParent());
}
