#include "editor/CEditorDoc.h"
#include "editor/ProgramLayout.h"

#include "core/AppCore.h"
#include "core/CSettingsKey.h"
#include "core/MainWindowServices.h"
#include "core/RunnerPath.h"
#include "core/SettingNames.h"
#include "editor/Autosave.h"
#include "editor/CEditorView.h"
#include "editor/CProgramHighlighter.h"
#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "kernel/CLogOnDlg.h"
#include "res/Resource.h"
#include "lang/Program.h"
#include "statement/CStatementDlg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <string>

namespace {

bool editOnly()
{
    const AppCore* app = AppCore::instance();
    return app && app->m_bEditOnly;
}

// Where the Options dialog can store a runner path at all.
bool canStoreRunnerPath()
{
    if (editOnly())
        return false;
    CSettingsKey key;
    return key.open(CSettingsKey::Write);
}

constexpr int LineEndProperty = QTextFormat::UserProperty;

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
        if (!modified)
            autosaveNow(); // back to the file's text (saved, or undone): the side file goes
    });
    // The side file follows the text at most AutosaveDelayMs behind while the user types on, and
    // catches up in the first pause of AutosaveIdleMs; nothing is written while it holds the text.
    m_autosaveTimer = new QTimer(this);
    m_autosaveTimer->setSingleShot(true);
    m_autosaveTimer->setInterval(AutosaveDelayMs);
    connect(m_autosaveTimer, &QTimer::timeout, this, &CEditorDoc::autosaveIfBehind);
    m_autosaveIdleTimer = new QTimer(this);
    m_autosaveIdleTimer->setSingleShot(true);
    m_autosaveIdleTimer->setInterval(AutosaveIdleMs);
    connect(m_autosaveIdleTimer, &QTimer::timeout, this, &CEditorDoc::autosaveIfBehind);
    connect(m_text.get(), &QTextDocument::contentsChange, this, [this] {
        if (m_highlighter->isColouring())
            return;
        m_autosaveBehind = true;
        if (!m_autosaveTimer->isActive())
            m_autosaveTimer->start();
        m_autosaveIdleTimer->start();
    });

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
    // Closed, saved or not: the side file has served its purpose.
    Autosave::remove(m_autosaveFile);
}

void CEditorDoc::autosaveIfBehind()
{
    if (m_autosaveBehind)
        autosaveNow();
}

void CEditorDoc::autosaveNow()
{
    m_autosaveTimer->stop();
    m_autosaveIdleTimer->stop();
    m_autosaveBehind = false;
    if (!m_text->isModified()) {
        Autosave::remove(m_autosaveFile);
        m_autosaveFile.clear();
        return;
    }
    const QString written =
        Autosave::write(m_autosaveFile, pathName(), ProgramText::encodingName(m_format.encoding), text());
    if (!written.isEmpty())
        m_autosaveFile = written;
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
    QString raw = m_text->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return raw;
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
    m_text->setPlainText(QString());
    m_format = ProgramText::FileFormat{};
    setModified(false);
    return true;
}

bool CEditorDoc::onOpenDocument(const QString& path)
{
    // Taken before reading: a file that changes while it is read counts as changed at the next save.
    const FileSave::Stamp stamp = FileSave::stampOf(path);
    ProgramText::ReadResult read = ProgramText::readFile(path);
    if (!read.bytes) {
        KMessageBox::show(read.error, KMessageBox::Icon::Stop);
        return false;
    }
    ProgramText::DecodeResult decoded = ProgramText::decode(*read.bytes, path);
    read.bytes.reset();
    if (!decoded.decoded) {
        KMessageBox::show(decoded.error, KMessageBox::Icon::Stop);
        return false;
    }
    m_format = decoded.decoded->format;
    m_diskStamp = stamp;
    m_text->setUndoRedoEnabled(false);
    m_text->setPlainText(decoded.decoded->text);
    setLineEnds(decoded.decoded->lineEnds);
    m_text->setUndoRedoEnabled(true);
    setModified(false);
    // A small file opens with its faulty lines already marked; a large one is checked after opening.
    m_highlighter->checkSoon();
    return true;
}

void CEditorDoc::setLineEnds(const std::vector<ProgramText::LineEnd>& lineEnds)
{
    QTextCursor cursor(m_text.get());
    bool editing = false;
    QTextBlock block = m_text->begin();
    for (std::size_t i = 0; i < lineEnds.size() && block.isValid(); ++i, block = block.next()) {
        if (lineEnds[i] == m_format.lineEnd)
            continue;
        if (!editing) {
            cursor.beginEditBlock();
            editing = true;
        }
        QTextBlockFormat format = block.blockFormat();
        format.setProperty(LineEndProperty, static_cast<int>(lineEnds[i]));
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
    if (editing)
        cursor.endEditBlock();
}

std::vector<ProgramText::LineEnd> CEditorDoc::lineEnds() const
{
    std::vector<ProgramText::LineEnd> ends;
    ends.reserve(static_cast<std::size_t>(m_text->blockCount()));
    for (QTextBlock block = m_text->begin(); block.isValid(); block = block.next()) {
        const QVariant end = block.blockFormat().property(LineEndProperty);
        ends.push_back(end.isValid() ? static_cast<ProgramText::LineEnd>(end.toInt()) : m_format.lineEnd);
    }
    ends.pop_back(); // the last line has no line end of its own
    return ends;
}

bool CEditorDoc::onSaveDocument(const QString& path)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QString content = text();
    const std::vector<ProgramText::LineEnd> ends = lineEnds();
    ProgramText::FileFormat format = m_format;
    int unencodable = -1;
    std::optional<QByteArray> bytes = ProgramText::encode(content, format, ends, &unencodable);
    if (!bytes) {
        const int line = static_cast<int>(QStringView(content).left(unencodable).count(QLatin1Char('\n'))) + 1;
        const auto answer = KMessageBox::show(
            tr("%1 is written in Latin-1, which cannot hold the character \"%2\" in line %3.\n"
               "Save the file in UTF-8 instead?")
                .arg(shown, content.mid(unencodable, content.at(unencodable).isHighSurrogate() ? 2 : 1))
                .arg(line),
            KMessageBox::Icon::Warning, QMessageBox::Yes | QMessageBox::No, dialogParent());
        if (answer != QMessageBox::Yes)
            return false;
        format.encoding = ProgramText::Encoding::Utf8;
        format.byteOrderMark = false;
        bytes = ProgramText::encode(content, format, ends);
    }

    if (!mayReplace(path))
        return false;
    const FileSave::Result saved = FileSave::writeReplacing(path, *bytes);
    if (!saved.ok) {
        KMessageBox::show(tr("Cannot save %1.\n%2").arg(shown, saved.reason), KMessageBox::Icon::Stop, QMessageBox::Ok,
                          dialogParent());
        return false;
    }
    m_format = format;
    m_diskStamp = FileSave::stampOf(path);
    return true;
}

bool CEditorDoc::mayReplace(const QString& path) const
{
    // Save As onto another file was confirmed in the file dialog; a new document has no file yet.
    if (pathName().isEmpty() || QFileInfo(path).absoluteFilePath() != pathName())
        return true;
    const FileSave::Stamp now = FileSave::stampOf(path);
    if (now == m_diskStamp)
        return true;
    const QString shown = QDir::toNativeSeparators(path);
    const QString question = now.exists
                                 ? tr("%1 has been changed by another program since it was opened or last saved.\n"
                                      "Replace it with the text in the editor?")
                                       .arg(shown)
                                 : tr("%1 has been deleted or moved since it was opened or last saved.\n"
                                      "Save the text in the editor there again?")
                                       .arg(shown);
    return KMessageBox::show(question, KMessageBox::Icon::Warning, QMessageBox::Yes | QMessageBox::No,
                             dialogParent()) == QMessageBox::Yes;
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
    const QTextBlock block = caret.block();
    const ProgramText::Placement p = ProgramText::placeInsertion(block.position(), block.length() - 1,
                                                                 caret.selectionStart(), m_text->characterCount() - 1);
    if (p.leadingLineBreak)
        replaceRange(view, p.position, 0, QLatin1Char('\n') + statement, p.position + 1);
    else
        replaceRange(view, p.position, 0, statement, p.position);
}

void CEditorDoc::replaceRange(CEditorView* view, int start, int length, const QString& text, int newLine)
{
    // One undo step, the line end of a new line included; the modified flag and the side file follow
    // the edit as they follow typing.
    QTextCursor cursor(m_text.get());
    cursor.beginEditBlock();
    cursor.setPosition(start);
    cursor.setPosition(start + length, QTextCursor::KeepAnchor);
    cursor.insertText(ProgramText::plainLineBreaks(text));
    if (newLine >= 0) {
        // The split line's format, and with it its line end, went to both halves.
        const QTextBlock line = m_text->findBlock(newLine);
        QTextBlockFormat format = line.blockFormat();
        format.clearProperty(LineEndProperty);
        QTextCursor(line).setBlockFormat(format);
    }
    cursor.endEditBlock();
    if (view)
        view->setTextCursor(cursor);
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
    QWidget* parent = dialogParent();
    {
        CSettingsKey key;
        key.open(CSettingsKey::Read);
        if (key.read(SettingName::DefLogon).value_or(QString()) == QLatin1String("on")) {
            settings.host = key.read(SettingName::DefHostname).value_or(QString::fromLatin1(SettingDefault::Hostname));
            settings.instance =
                key.read(SettingName::DefInstance).value_or(QString::fromLatin1(SettingDefault::Instance));
        } else {
            key.close();
            CLogOnDlg dlg(parent);
            if (Modal::run(dlg) != QDialog::Accepted)
                return false;
            settings.host = dlg.hostname;
            settings.instance = dlg.instance;
        }
    }
    for (;;) {
        if (std::optional<QString> path = readRunnerPath()) {
            settings.runnerPath = *path;
            return true;
        }
        KMessageBox::show(tr("The %1 path does not exist or has not been set.").arg(QLatin1String(runnerFileName)),
                          KMessageBox::Icon::Stop, QMessageBox::Ok, parent);
        // The Options dialog could never end the loop here.
        if (!canStoreRunnerPath())
            return false;
        // Without a main window there is nobody to ask for a path.
        AppCore* app = AppCore::instance();
        MainWindowServices* window = app ? app->mainWindow() : nullptr;
        if (!window)
            return false;
        window->showOptionsDialog();
    }
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

bool CEditorDoc::startRunner(const QString& runnerPath, const QStringList& arguments) const
{
    // On this platform argument 0 of the started process is the runner path; "kelm" cannot be given.
    QProcess process;
    process.setProgram(runnerPath);
    process.setArguments(arguments);
    if (process.startDetached())
        return true;
    // Qt puts the failed call in front of the system's text ("execv: No such file or directory").
    QString reason = process.errorString();
    reason = reason.mid(reason.lastIndexOf(QLatin1String(": ")) + 1).trimmed();
    const QString shown = QDir::toNativeSeparators(runnerPath);
    qWarning("Cannot start the runner %s: %s", qUtf8Printable(shown), qUtf8Printable(reason));
    KMessageBox::show(tr("Cannot start the runner %1.\n%2").arg(shown, reason), KMessageBox::Icon::Stop,
                      QMessageBox::Ok, dialogParent());
    return false;
}

void CEditorDoc::checkHere()
{
    // What the runner does with -parse, in this process: the saved file is read and reported on the
    // same way, and the box and the caret follow as for a diagnostic of the runner.
    const std::string path = QFile::encodeName(nativePath()).toStdString();
    const std::string name = kelm::fileNameOf(path);
    kelm::Program program;
    std::string error;
    const kelm::ParseReport report = kelm::loadProgram(path, program, error)
                                         ? kelm::parseReport(name, program)
                                         : kelm::ParseReport{-1, kelm::unreadableText(name, error)};
    const QString text = QString::fromStdString(kelm::displayText(report.text, kelm::kMaxShownText));
    const int line = report.line;
    KMessageBox::post(text, KMessageBox::Icon::None, dialogParent(), [doc = QPointer<CEditorDoc>(this), line] {
        if (doc && line != -1)
            doc->GoToLine(line);
    });
}

void CEditorDoc::onParse()
{
    saveBeforeUse();
    if (!hasFileFor(tr("Parse")))
        return;
    // Without the message port the runner's diagnostic could reach nobody.
    if (editOnly()) {
        checkHere();
        return;
    }
    RunSettings settings;
    if (!GetRunSettings(settings))
        return;
    startRunner(settings.runnerPath, ProgramText::parseArguments(nativePath()));
}

void CEditorDoc::onRun()
{
    saveBeforeUse();
    if (!hasFileFor(tr("Run")))
        return;
    RunSettings settings;
    if (!GetRunSettings(settings))
        return;
    startRunner(settings.runnerPath, ProgramText::runArguments(settings.host, settings.instance, nativePath()));
}
