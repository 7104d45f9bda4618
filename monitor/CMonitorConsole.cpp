#include "monitor/CMonitorConsole.h"

#include "core/AppCore.h"
#include "framework/CMDIFrame.h"
#include "framework/CommandIds.h"
#include "monitor/CMonitorDoc.h"

#include <QFontDatabase>
#include <QScrollBar>
#include <QTimer>

CMonitorConsole::CMonitorConsole(CMonitorDoc* document, QWidget* parent) : QPlainTextEdit(parent), CView(document)
{
    setDocument(document->console());
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    setPalette(p);
    connect(this, &QPlainTextEdit::copyAvailable, this, [this](bool available) {
        m_copyAvailable = available;
        CMDIFrame::requestCommandUpdate();
    });
    onCommand(
        Cmd::EditCopy, [this] { copy(); }, [this] { return m_copyAvailable; });
    onCommand(Cmd::EditSelectAll, [this] { selectAll(); });
}

CMonitorConsole::~CMonitorConsole()
{
    // The record names one console; when its window goes, another window's console takes over.
    AppCore* core = AppCore::instance();
    if (!core)
        return;
    for (auto& record : core->monitors) {
        if (record->console != this)
            continue;
        record->console = nullptr;
        if (CDocument* doc = CView::document()) {
            for (CView* v : doc->views()) {
                if (auto* other = dynamic_cast<CMonitorConsole*>(v); other && other != this) {
                    record->console = other;
                    break;
                }
            }
        }
    }
}

void CMonitorConsole::showEnd()
{
    if (m_endPending)
        return;
    m_endPending = true;
    QTimer::singleShot(0, this, [this] {
        m_endPending = false;
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    });
}
