#include "editor/CEditorView.h"

#include "editor/CEditorDoc.h"
#include "editor/CLineNumberArea.h"
#include "editor/CProgramHighlighter.h"
#include "editor/CTagAssist.h"
#include "editor/ProgramText.h"
#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "framework/Printing.h"
#include "res/Resource.h"
#include "res/Fonts.h"

#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QInputDialog>
#include <QClipboard>
#include <QCompleter>
#include <QHeaderView>
#include <QPointer>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTreeView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <cstdlib>

namespace {

// Rows of the completion list: the best matches of a large model are enough.
constexpr int kMaxCandidateRows = 200;

QTextDocument::FindFlags findFlags(const CFindReplaceDlg::Options& o)
{
    QTextDocument::FindFlags flags;
    if (o.matchCase)
        flags |= QTextDocument::FindCaseSensitively;
    if (o.wholeWord)
        flags |= QTextDocument::FindWholeWords;
    if (o.backward)
        flags |= QTextDocument::FindBackward;
    return flags;
}

} // namespace

CEditorView::CEditorView(CEditorDoc* document, QWidget* parent) : CGutterEdit(parent), CView(document)
{
    Q_ASSERT(document);
    setDocument(document->textDocument());
    setFont(Fonts::programFont(font()));
    // Every view of a document shares one layout, whose width would follow the last view resized.
    setLineWrapMode(QPlainTextEdit::NoWrap);
    m_undoAvailable = document->textDocument()->isUndoAvailable();

    connect(this, &QPlainTextEdit::undoAvailable, this, [this](bool available) {
        m_undoAvailable = available;
        CMDIFrame::requestCommandUpdate();
    });
    connect(this, &QPlainTextEdit::copyAvailable, this, [this](bool available) {
        m_copyAvailable = available;
        CMDIFrame::requestCommandUpdate();
    });
    connect(this, &QPlainTextEdit::modificationChanged, this, [] { CMDIFrame::requestCommandUpdate(); });
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, [] { CMDIFrame::requestCommandUpdate(); });
    m_lineNumbers = new CLineNumberArea(this);
    m_blockCount = blockCount();
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this](int count) {
        m_shapedDrift += std::abs(count - m_blockCount);
        m_blockCount = count;
    });
    registerCommands();

    m_candidates = new QStandardItemModel(this);
    m_completer = new QCompleter(m_candidates, this);
    m_completer->setWidget(this);
    m_completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    m_completer->setCaseSensitivity(Qt::CaseInsensitive);
    auto* popup = new QTreeView;
    popup->setObjectName(QStringLiteral("tagCompletion"));
    popup->setHeaderHidden(true);
    popup->setRootIsDecorated(false);
    popup->setUniformRowHeights(true);
    m_completer->setPopup(popup);
    connect(m_completer, QOverload<const QModelIndex&>::of(&QCompleter::activated), this,
            &CEditorView::insertCompletion);
    connect(&CTagAssist::instance(), &CTagAssist::knowledgeChanged, this, [this] {
        if (m_completionWanted || m_completer->popup()->isVisible())
            refreshCompletion();
    });
}

bool CEditorView::openCompletion()
{
    const QTextCursor c = textCursor();
    if (tagPositionAt(c.block().text(), c.positionInBlock()).step == TagStep::None) {
        m_completer->popup()->hide();
        return false;
    }
    CTagAssist& assist = CTagAssist::instance();
    assist.sync();
    assist.refreshTagList();
    m_completionWanted = true;
    refreshCompletion();
    return true;
}

void CEditorView::refreshCompletion()
{
    const QTextCursor c = textCursor();
    const TagKnowledge::Completion found =
        CTagAssist::instance().knowledge().complete(c.block().text(), c.positionInBlock());
    QAbstractItemView* popup = m_completer->popup();
    if (found.position.step == TagStep::None || (found.candidates.empty() && !found.pending)) {
        m_completionWanted = false;
        popup->hide();
        return;
    }
    if (found.candidates.empty()) {
        popup->hide(); // shown when the answer comes
        return;
    }
    m_completionWanted = false;
    m_candidates->clear();
    const int rows = std::min<int>(kMaxCandidateRows, int(found.candidates.size()));
    for (int i = 0; i < rows; ++i) {
        const TagCandidate& t = found.candidates[size_t(i)];
        auto* name = new QStandardItem(t.text);
        name->setData(t.insert, InsertRole);
        auto* type = new QStandardItem(t.type);
        type->setForeground(palette().brush(QPalette::PlaceholderText));
        if (t.fromTagList) {
            QFont italic = font();
            italic.setItalic(true);
            name->setFont(italic);
        }
        m_candidates->appendRow({name, type});
    }
    m_completer->setCompletionPrefix(QString());
    auto* tree = static_cast<QTreeView*>(popup);
    tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    QRect rect = cursorRect();
    rect.translate(viewportMargins().left(), viewportMargins().top());
    const QAbstractItemView* view = tree;
    rect.setWidth(std::max(240, view->sizeHintForColumn(0) + view->sizeHintForColumn(1) +
                                    tree->verticalScrollBar()->sizeHint().width() + 24));
    m_completer->complete(rect);
    popup->setCurrentIndex(m_completer->completionModel()->index(0, 0));
}

void CEditorView::insertCompletion(const QModelIndex& index)
{
    const QString insert = index.sibling(index.row(), 0).data(InsertRole).toString();
    QTextCursor c = textCursor();
    const TagPosition p = tagPositionAt(c.block().text(), c.positionInBlock());
    if (p.step == TagStep::None || insert.isEmpty())
        return;
    const int caret = c.position();
    c.beginEditBlock();
    c.setPosition(c.block().position() + p.from);
    c.setPosition(caret, QTextCursor::KeepAnchor);
    c.insertText(insert);
    if (!p.closed) {
        c.insertText(QStringLiteral("}"));
        // After a block the name usually goes on with ":"; the caret stays inside the braces.
        if (p.step == TagStep::Block && !insert.contains(QLatin1Char(':')))
            c.movePosition(QTextCursor::Left);
    }
    c.endEditBlock();
    setTextCursor(c);
}

CEditorView::~CEditorView()
{
    // The document may outlive this view: the lines it kept shaped let go of their glyphs.
    releaseShaped(m_shapedFrom, m_shapedTo);
}

CEditorDoc* CEditorView::editorDocument() const
{
    return static_cast<CEditorDoc*>(CView::document());
}

void CEditorView::onInitialUpdate()
{
    setTextCursor(QTextCursor(QPlainTextEdit::document()));
}

void CEditorView::registerCommands()
{
    onCommand(
        Cmd::EditUndo, [this] { undo(); }, [this] { return m_undoAvailable; });
    onCommand(
        Cmd::EditCut, [this] { cut(); }, [this] { return m_copyAvailable && !isReadOnly(); });
    onCommand(
        Cmd::EditCopy, [this] { copy(); }, [this] { return m_copyAvailable; });
    onCommand(
        Cmd::EditPaste, [this] { paste(); }, [this] { return canPaste(); });
    onCommand(Cmd::EditSelectAll, [this] { selectAll(); });
    onCommand(Cmd::EditFind, [this] { showFindDialog(false); });
    onCommand(Cmd::EditFindNext, [this] { findAgain(); });
    onCommand(Cmd::EditReplace, [this] { showFindDialog(true); });
    onCommand(Cmd::GoToLine, [this] { goToLineDialog(); });
    onCommand(Cmd::FilePrint, [this] { print(false); });
    onCommand(Cmd::FilePrintDirect, [this] { print(true); });
    onCommand(Cmd::FilePrintPreview, [this] {
        Printing::preview(this, *QPlainTextEdit::document(), editorDocument()->title(), PrintMarginTwips / 1440.0);
    });
}

void CEditorView::print(bool direct)
{
    Printing::print(this, *QPlainTextEdit::document(), editorDocument()->title(), PrintMarginTwips / 1440.0, direct);
}

void CEditorView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QPlainTextEdit::mouseDoubleClickEvent(event);
        return;
    }
    // The press before it has put the caret on the line; no word gets selected.
    event->accept();
    editorDocument()->EditStatementAtCaret(this);
}

void CEditorView::focusInEvent(QFocusEvent* event)
{
    editorDocument()->setCurrentView(this);
    QPlainTextEdit::focusInEvent(event);
}

void CEditorView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::InsertLineSeparator)) {
        QKeyEvent enter(event->type(), Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), event->isAutoRepeat(),
                        static_cast<ushort>(event->count()));
        QPlainTextEdit::keyPressEvent(&enter);
        event->setAccepted(enter.isAccepted());
        return;
    }
    if (m_completer->popup()->isVisible()) {
        // The list takes these: Enter and Tab insert, Escape closes.
        switch (event->key()) {
        case Qt::Key_Enter:
        case Qt::Key_Return:
        case Qt::Key_Escape:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            event->ignore();
            return;
        default:
            break;
        }
    }
    if (event->key() == Qt::Key_Space && (event->modifiers() & Qt::ControlModifier)) {
        openCompletion();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
    // Typing "{", ":", "." or "[" inside braces opens the list; other keys narrow it.
    const QString text = event->text();
    if (text == QLatin1String("{") || text == QLatin1String(":") || text == QLatin1String(".") ||
        text == QLatin1String("[")) {
        openCompletion();
    } else if (m_completer->popup()->isVisible() || m_completionWanted) {
        refreshCompletion();
    }
}

void CEditorView::insertFromMimeData(const QMimeData* source)
{
    if (!source || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    const QString text = source->text();
    const QString plain = ProgramText::plainLineBreaks(text);
    if (plain == text) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    QMimeData mapped;
    mapped.setText(plain);
    QPlainTextEdit::insertFromMimeData(&mapped);
}

void CEditorView::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    m_lineNumbers->updateGeometry();
    highlightShown();
}

void CEditorView::showEvent(QShowEvent* event)
{
    QPlainTextEdit::showEvent(event);
    highlightShown();
}

void CEditorView::scrollContentsBy(int dx, int dy)
{
    QPlainTextEdit::scrollContentsBy(dx, dy);
    // Before the uncovered lines are painted, so that they are painted once, in colour.
    if (dy)
        highlightShown();
}

void CEditorView::paintEvent(QPaintEvent* event)
{
    // Whatever scrolled or was edited into view without passing the hooks above.
    highlightShown();
    QPlainTextEdit::paintEvent(event);
}

void CEditorView::changeEvent(QEvent* event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange &&
        editorDocument()->highlighter()->setColours(ProgramColours::from(palette()))) {
        highlightShown();
        viewport()->update();
    }
}

void CEditorView::highlightShown()
{
    if (!isVisible())
        return;
    const int lineHeight = std::max(1, fontMetrics().lineSpacing());
    const int page = viewport()->height() / lineHeight + 1;
    QTextBlock first = firstVisibleBlock();
    for (int i = 0; i < page && first.previous().isValid(); ++i)
        first = first.previous();
    QTextBlock last = first;
    for (int i = 0; i < 3 * page && last.next().isValid(); ++i)
        last = last.next();
    editorDocument()->highlighter()->highlightBlocks(first, last);
    keepShaped(first, last);
}

void CEditorView::keepShaped(const QTextBlock& first, const QTextBlock& last)
{
    // A layout gives its glyphs back after each layout and each paint; a coloured line has one run per
    // token, each shaped again on every repaint (a keystroke's, a caret blink's). Shown lines keep
    // theirs; the memory stays that of a few pages whatever was scrolled through.
    const int from = first.blockNumber();
    const int to = last.blockNumber();
    if (m_shapedFrom >= 0 && (from != m_shapedFrom || to != m_shapedTo || m_shapedDrift)) {
        // Lines inserted or removed since may have moved the kept ones by at most the drift.
        const int a = std::max(0, m_shapedFrom - m_shapedDrift);
        const int b = std::min(blockCount() - 1, m_shapedTo + m_shapedDrift);
        if (a < from)
            releaseShaped(a, std::min(b, from - 1));
        if (b > to)
            releaseShaped(std::max(a, to + 1), b);
    }
    m_shapedFrom = from;
    m_shapedTo = to;
    m_shapedDrift = 0;
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        block.layout()->setCacheEnabled(true);
        if (block == last)
            break;
    }
}

void CEditorView::releaseShaped(int from, int to)
{
    if (from < 0 || to < from)
        return;
    // With caching off a layout frees its glyphs at the end of a draw; one clipped above its lines
    // draws nothing.
    static QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
    QPainter* painter = nullptr;
    QPainter scratchPainter;
    QTextBlock block = QPlainTextEdit::document()->findBlockByNumber(from);
    for (int n = from; block.isValid() && n <= to; ++n, block = block.next()) {
        QTextLayout* layout = block.layout();
        if (!layout->cacheEnabled())
            continue;
        layout->setCacheEnabled(false);
        if (!painter) {
            scratchPainter.begin(&scratch);
            painter = &scratchPainter;
        }
        layout->draw(painter, QPointF(), {}, QRectF(0, -1e6, 1, 1));
    }
}

bool CEditorView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QTextCursor at = cursorForPosition(help->pos());
        const QTextBlock block = at.block();
        const QString fault = CProgramHighlighter::faultOf(block);
        // Over a tag: its warning and its live value.
        const QString text = block.text();
        const int column = at.positionInBlock();
        for (const ProgramCheck::Token& t : ProgramCheck::tokens(text)) {
            if (t.kind != ProgramCheck::TokenClass::Tag || column < t.start || column >= t.start + t.length)
                continue;
            QString warning = fault;
            for (const CProgramHighlighter::TagWarning& w : CProgramHighlighter::warningsOf(block)) {
                if (w.start == t.start)
                    warning = fault.isEmpty() ? w.message : fault + QLatin1Char('\n') + w.message;
            }
            const bool closed = text.at(t.start + t.length - 1) == QLatin1Char('}');
            showTagTip(help->globalPos(), text.mid(t.start + 1, t.length - (closed ? 2 : 1)).trimmed(), warning);
            return true;
        }
        if (fault.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), Qt::convertFromPlainText(fault, Qt::WhiteSpaceNormal), viewport());
        return true;
    }
    return QPlainTextEdit::viewportEvent(event);
}

void CEditorView::showTagTip(const QPoint& globalPos, const QString& name, const QString& warning)
{
    const int serial = ++m_tipSerial;
    CTagAssist& assist = CTagAssist::instance();
    assist.sync();
    TagKnowledge& knowledge = assist.knowledge();
    const QString head = warning.isEmpty() ? QString() : warning + QLatin1Char('\n');
    const auto show = [this, globalPos](const QString& tip) {
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(globalPos, Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal), viewport());
    };
    if (knowledge.kernel().isEmpty() || name.isEmpty()) {
        show(warning);
        return;
    }
    show(head + tr("%1: reading...").arg(name));
    const QPointer<CEditorView> self(this);
    knowledge.read(name, [self, serial, head, name, show](const TagKnowledge::Reading& r) {
        if (!self || serial != self->m_tipSerial || !QToolTip::isVisible())
            return;
        QString tip = head;
        if (r.ok) {
            tip += tr("%1 = %2").arg(name, r.value) + QLatin1Char('\n') + tr("Type: %1").arg(r.type);
            if (!r.description.isEmpty())
                tip += QLatin1Char('\n') + tr("Block: %1").arg(r.description);
        } else {
            tip += r.error.isEmpty() ? tr("%1: no answer from the kernel").arg(name)
                                     : name + QStringLiteral(": ") + r.error;
        }
        show(tip);
    });
}

void CEditorView::goToLineDialog()
{
    const int count = QPlainTextEdit::document()->blockCount();
    QInputDialog dlg(this);
    dlg.setWindowTitle(tr("Go to Line"));
    dlg.setInputMode(QInputDialog::IntInput);
    dlg.setLabelText(tr("&Line number (1 - %1):").arg(count));
    dlg.setIntRange(1, count);
    dlg.setIntValue(textCursor().blockNumber() + 1);
    if (Modal::run(dlg) != QDialog::Accepted)
        return;
    editorDocument()->setCurrentView(this);
    editorDocument()->GoToLine(dlg.intValue());
}

void CEditorView::showFindDialog(bool replace)
{
    if (!m_findDialog) {
        m_findDialog = new CFindReplaceDlg(this);
        connect(m_findDialog, &CFindReplaceDlg::findNextRequested, this, [this] {
            CFindReplaceDlg::lastSearch() = m_findDialog->options();
            findText(m_findDialog->options());
        });
        connect(m_findDialog, &CFindReplaceDlg::replaceRequested, this, [this] {
            CFindReplaceDlg::lastSearch() = m_findDialog->options();
            replaceText(m_findDialog->options());
        });
        connect(m_findDialog, &CFindReplaceDlg::replaceAllRequested, this, [this] {
            CFindReplaceDlg::lastSearch() = m_findDialog->options();
            if (replaceAllText(m_findDialog->options()) == 0)
                notFound(m_findDialog->options().findWhat);
        });
    }
    const QTextCursor cursor = textCursor();
    QString what = cursor.selectedText();
    if (what.isEmpty() || what.contains(QChar::ParagraphSeparator))
        what = CFindReplaceDlg::lastSearch().findWhat;
    m_findDialog->start(replace, what);
}

void CEditorView::findAgain()
{
    const CFindReplaceDlg::Options& last = CFindReplaceDlg::lastSearch();
    if (last.findWhat.isEmpty()) {
        showFindDialog(false);
        return;
    }
    findText(last);
}

void CEditorView::notFound(const QString& what)
{
    KMessageBox::show(tr("Cannot find \"%1\".").arg(what), KMessageBox::Icon::Information, QMessageBox::Ok, this);
}

bool CEditorView::findText(const CFindReplaceDlg::Options& options)
{
    if (options.findWhat.isEmpty())
        return false;
    QTextDocument* doc = QPlainTextEdit::document();
    const QTextDocument::FindFlags flags = findFlags(options);
    QTextCursor found = doc->find(options.findWhat, textCursor(), flags);
    if (found.isNull()) {
        QTextCursor from(doc);
        if (options.backward)
            from.movePosition(QTextCursor::End);
        found = doc->find(options.findWhat, from, flags);
    }
    if (found.isNull()) {
        notFound(options.findWhat);
        return false;
    }
    setTextCursor(found);
    ensureCursorVisible();
    return true;
}

void CEditorView::replaceText(const CFindReplaceDlg::Options& options)
{
    if (options.findWhat.isEmpty())
        return;
    QTextCursor cursor = textCursor();
    if (cursor.hasSelection()) {
        // The selection counts only when searching it on its own finds exactly it.
        QTextCursor probe(QPlainTextEdit::document());
        probe.setPosition(cursor.selectionStart());
        const QTextCursor match = QPlainTextEdit::document()->find(options.findWhat, probe,
                                                                   findFlags(options) & ~QTextDocument::FindBackward);
        if (!match.isNull() && match.selectionStart() == cursor.selectionStart() &&
            match.selectionEnd() == cursor.selectionEnd()) {
            cursor.insertText(ProgramText::plainLineBreaks(options.replaceWith));
            setTextCursor(cursor);
        }
    }
    findText(options);
}

int CEditorView::replaceAllText(const CFindReplaceDlg::Options& options)
{
    if (options.findWhat.isEmpty())
        return 0;
    QTextDocument* doc = QPlainTextEdit::document();
    const QTextDocument::FindFlags flags = findFlags(options) & ~QTextDocument::FindBackward;
    const QString replacement = ProgramText::plainLineBreaks(options.replaceWith);
    QTextCursor edit(doc);
    int count = 0;
    QTextCursor found = doc->find(options.findWhat, QTextCursor(doc), flags);
    while (!found.isNull()) {
        if (count == 0)
            edit.beginEditBlock();
        edit.setPosition(found.selectionStart());
        edit.setPosition(found.selectionEnd(), QTextCursor::KeepAnchor);
        edit.insertText(replacement);
        ++count;
        found = doc->find(options.findWhat, edit, flags);
    }
    if (count > 0) {
        edit.endEditBlock();
        setTextCursor(edit);
    }
    return count;
}
