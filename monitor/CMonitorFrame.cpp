#include "monitor/CMonitorFrame.h"

#include "framework/CommandIds.h"
#include "monitor/CMonitorConsole.h"
#include "monitor/CMonitorDoc.h"
#include "monitor/CMonitorFindBar.h"
#include "monitor/CMonitorView.h"
#include "monitor/CTrendPane.h"
#include "monitor/Monitor.h"
#include "monitor/RunReport.h"
#include "monitor/RunsTable.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "kernel/KernelConnection.h"
#include "res/Icons.h"
#include "res/Resource.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSplitter>
#include <QTextBlock>
#include <QVBoxLayout>

#include <memory>

CMonitorFrame::CMonitorFrame(CDocument* document, QWidget* parent)
    : CChildFrame(document, parent), m_splitter(new QSplitter(Qt::Vertical)), m_lower(new QSplitter(Qt::Horizontal))
{
    s_made = true;
    auto* monitor = qobject_cast<CMonitorDoc*>(document);
    Q_ASSERT(monitor);
    m_listing = new CMonitorView(monitor, m_splitter);
    m_console = new CMonitorConsole(monitor, m_lower);
    m_trend = new CTrendPane(monitor->record(), m_lower);
    m_lower->addWidget(m_console);
    m_lower->addWidget(m_trend);
    m_lower->setChildrenCollapsible(false);
    // The trend takes three fifths of the width to start.
    m_lower->setStretchFactor(0, 2);
    m_lower->setStretchFactor(1, 3);
    m_lower->setSizes({200, 300});
    m_splitter->addWidget(m_listing);
    m_splitter->addWidget(m_lower);
    m_splitter->setChildrenCollapsible(false);
    // The listing starts 200 pixels high; the console takes what is left.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({200, 1});
    auto* client = new QWidget;
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_splitter, 1);
    m_findBar = new CMonitorFindBar(client);
    layout->addWidget(m_findBar);
    setWidget(client);
    setWindowIcon(Icons::window(Res::MonitorDoc));

    connect(m_findBar, &CMonitorFindBar::findRequested, this, [this](bool backward) {
        m_findBar->setNotFound(!findIn(m_findTarget ? m_findTarget : m_listing, backward));
    });
    connect(m_findBar, &CMonitorFindBar::closed, this, [this] {
        if (m_findTarget)
            m_findTarget->widget()->setFocus(Qt::OtherFocusReason);
    });
    connect(m_trend, &CTrendPane::lineClicked, this, &CMonitorFrame::selectListingLine);
    connect(m_listing, &QPlainTextEdit::cursorPositionChanged, this, &CMonitorFrame::highlightSelectedLines);
    connect(m_listing, &QPlainTextEdit::selectionChanged, this, &CMonitorFrame::highlightSelectedLines);
    // A pane of the lower pair is hidden only while the other one shows.
    onCommand(
        Cmd::ViewConsole, [this] { m_console->setVisible(!m_console->isVisibleTo(this)); },
        [this] { return !m_console->isVisibleTo(this) || m_trend->isVisibleTo(this); },
        [this] { return m_console->isVisibleTo(this); });
    onCommand(
        Cmd::ViewTrend, [this] { m_trend->setVisible(!m_trend->isVisibleTo(this)); },
        [this] { return !m_trend->isVisibleTo(this) || m_console->isVisibleTo(this); },
        [this] { return m_trend->isVisibleTo(this); });
    onCommand(Cmd::ExportRunReport, [this] { exportRunReport(); });
    onCommand(Cmd::EditFind, [this] { startFind(searchedPane()); });
    onCommand(Cmd::EditFindNext, [this] { findAgain(false); });
    onCommand(Cmd::FindPrevious, [this] { findAgain(true); });
}

void CMonitorFrame::warmUp(QSize size)
{
    if (s_made)
        return;
    CMonitorDoc scratch;
    const std::unique_ptr<CMonitorFrame> frame(new CMonitorFrame(&scratch));
    frame->resize(size);
    QImage image(frame->size(), QImage::Format_ARGB32_Premultiplied);
    frame->render(&image);
}

QString CMonitorFrame::paneName(const CView* pane) const
{
    return pane == m_console ? tr("console") : tr("listing");
}

CView* CMonitorFrame::searchedPane()
{
    const QWidget* focus = QApplication::focusWidget();
    for (CView* pane : {static_cast<CView*>(m_listing), static_cast<CView*>(m_console)}) {
        if (focus && (focus == pane->widget() || pane->widget()->isAncestorOf(focus)))
            return pane;
    }
    return m_findTarget ? m_findTarget : m_listing;
}

void CMonitorFrame::startFind(CView* pane)
{
    m_findTarget = pane;
    QString selected;
    if (pane == m_listing)
        selected = m_listing->textCursor().selectedText();
    else if (pane == m_console)
        selected = m_console->selectedText();
    // A selection over more than one line is no search text (the listing marks breaks with U+2029).
    if (selected.contains(QLatin1Char('\n')) || selected.contains(QChar::ParagraphSeparator))
        selected.clear();
    m_findBar->start(paneName(pane), selected);
}

void CMonitorFrame::findAgain(bool backward)
{
    CView* pane = searchedPane();
    if (m_findBar->text().isEmpty()) {
        startFind(pane);
        return;
    }
    m_findTarget = pane;
    m_findBar->setPaneName(paneName(pane));
    const bool found = findIn(pane, backward);
    m_findBar->setNotFound(!found);
    if (!found && !m_findBar->isVisible())
        QApplication::beep();
}

bool CMonitorFrame::findIn(CView* pane, bool backward)
{
    const QString what = m_findBar->text();
    if (pane == m_console)
        return m_console->find(what, backward, m_findBar->matchCase());
    return m_listing->find(what, backward, m_findBar->matchCase());
}

void CMonitorFrame::selectListingLine(int k)
{
    const QTextBlock block = m_listing->QPlainTextEdit::document()->findBlockByNumber(k - 1);
    if (!block.isValid())
        return;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    m_listing->setTextCursor(cursor);
    m_listing->ensureCursorVisible();
}

void CMonitorFrame::highlightSelectedLines()
{
    const QTextCursor cursor = m_listing->textCursor();
    QTextDocument* text = m_listing->QPlainTextEdit::document();
    const int first = text->findBlock(cursor.selectionStart()).blockNumber() + 1;
    int last = text->findBlock(cursor.selectionEnd()).blockNumber() + 1;
    // A selection that ends at the start of a line takes nothing of that line.
    if (last > first && cursor.selectionEnd() == text->findBlockByNumber(last - 1).position())
        --last;
    std::set<int> lines;
    for (int k = first; k <= last; ++k)
        lines.insert(k);
    m_trend->setHighlightedLines(lines);
}

void CMonitorFrame::exportRunReport()
{
    auto* monitor = qobject_cast<CMonitorDoc*>(document());
    const MonitorRecord* record = FindMonitorByDocument(monitor);
    RunReport::Facts facts;
    const QString fallback = monitor->defaultTitle();
    if (record) {
        const RunsTable::RunFacts run = RunsTable::factsOf(*record, fallback);
        facts.program = run.program;
        facts.host = RunsTable::cell(run, RunsTable::Host);
        facts.instance = RunsTable::cell(run, RunsTable::Instance);
        facts.result = RunsTable::stateText(run);
        const QString opened = QLocale::system().toString(run.openedAt, QLocale::ShortFormat);
        facts.started = run.startTime ? tr("%1 (simulation %2)").arg(opened, FormatKernelTime(*run.startTime)) : opened;
        facts.ended = run.state == MonitorState::Finished
                          ? tr("simulation %1").arg(FormatKernelTime(run.latestTime))
                          : tr("still running at simulation %1").arg(FormatKernelTime(run.latestTime));
    } else {
        facts.program = fallback;
    }
    QString base = QFileInfo(facts.program).completeBaseName();
    if (base.isEmpty())
        base = fallback;
    QString path = Modal::getSaveFileName(nullptr, tr("Export Run Report"), base + QStringLiteral(" report.pdf"),
                                          tr("PDF Files (*.pdf);;All Files (*)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty() && !QFileInfo::exists(path))
        path += QStringLiteral(".pdf");
    QStringList lines;
    for (QTextBlock b = m_listing->QPlainTextEdit::document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    // The listing ends with an empty line after the last line break.
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    m_trend->redraw();
    m_trend->clearHover();
    QString reason;
    if (!RunReport::write(path, facts, monitor->live().withTexts(lines, 1), monitor->console().toPlainText(),
                          m_trend->isVisibleTo(this) ? static_cast<QWidget*>(m_trend) : nullptr, &reason))
        KMessageBox::show(tr("Cannot export %1.\n%2").arg(QDir::toNativeSeparators(path), reason),
                          KMessageBox::Icon::Stop, QMessageBox::Ok);
}
