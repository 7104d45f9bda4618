#include "monitor/Monitor.h"

#include "lang/Program.h"

#include "core/AppCore.h"
#include "framework/CMDIFrame.h"
#include "kernel/KernelConnection.h"
#include "monitor/CMonitorDoc.h"
#include "vmsg/vmsg.h"

#include <QColor>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace {

constexpr int NoDefault = -99999;

QTextCharFormat colourFormat(MonitorText::Rgb rgb, bool bold = false)
{
    QTextCharFormat f;
    f.setForeground(QColor(rgb.red, rgb.green, rgb.blue));
    f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

// The view's own text colour.
QTextCharFormat automaticFormat(bool bold = false)
{
    QTextCharFormat f;
    f.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

bool calendarTime()
{
    const AppCore* core = AppCore::instance();
    return core && core->calendarTime;
}

CMonitorDoc* monitorDoc(const MonitorRecord& record)
{
    return record.document;
}

bool popInt(vmsgMsgPort* message, int& value)
{
    return message->pop(value, NoDefault) != 0;
}

bool popText(vmsgMsgPort* message, QString& text)
{
    char* raw = nullptr;
    if (message->pop(raw, NoDefault, -1) == 0 || !raw)
        return false;
    text = QString::fromUtf8(raw);
    return true;
}

bool popReal(vmsgMsgPort* message, double& value)
{
    return message->pop(value, NoDefault) != 0;
}

// A tag's name as the monitor shows and records it, whether a live message or the listing names it.
QString shownTag(const QString& tag)
{
    return MonitorText::listingText(MonitorText::cutText(tag, 200));
}

// A value of the tag line k writes, learnt at time t.
void recordWrittenValue(RunRecord& run, int k, double t, double value)
{
    const int tag = run.writtenTag(k);
    if (tag >= 0)
        run.add(tag, t, value);
}

// The live kinds, stamped with kernel time t: a message whose values are not of its kind's layout
// changes nothing. Every value learnt goes into the run record as well.
void handleLiveMessage(MonitorRecord& record, int kind, vmsgMsgPort* message, double t)
{
    LiveLines& live = monitorDoc(record)->live();
    RunRecord& run = monitorDoc(record)->record();
    const int lineCount = static_cast<int>(record.lineStarts.size());
    auto listed = [lineCount](int k) { return k >= 1 && k <= lineCount; };
    int k = 0;
    int i = 0;
    double a = 0;
    double b = 0;
    switch (kind) {
    case LiveClock:
        if (!popReal(message, a) || !popInt(message, i))
            return;
        live.setClock(a, i);
        break;
    case LiveWhen: {
        if (!popInt(message, k) || !popInt(message, i) || !listed(k))
            return;
        std::vector<LiveLines::TagValue> tags;
        QString tag;
        while (popText(message, tag)) {
            if (!popReal(message, a))
                return;
            tags.push_back({shownTag(tag), a});
        }
        for (const LiveLines::TagValue& value : tags)
            run.add(run.tagIndex(value.tag), t, value.value);
        live.setWhen(k, i != 0, std::move(tags));
        break;
    }
    case LiveDue:
        if (!popInt(message, k) || !popReal(message, a) || !listed(k))
            return;
        live.setDue(k, a);
        break;
    case LiveRamp:
        if (!popInt(message, k) || !popReal(message, a) || !popReal(message, b) || !listed(k))
            return;
        live.setRamp(k, a, b);
        recordWrittenValue(run, k, t, a);
        break;
    case LiveWritten:
        if (!popInt(message, k) || !popReal(message, a) || !listed(k))
            return;
        live.setWritten(k, a);
        recordWrittenValue(run, k, t, a);
        run.setWritten(k, a);
        break;
    case LiveNotFired:
        while (popInt(message, k)) {
            if (listed(k))
                live.setNotFired(k);
        }
        break;
    default:
        return;
    }
    monitorDoc(record)->liveChanged();
}

// Writes timeText over line index's time slot; when it is wider or narrower than what is there, the
// line's text and every later line move with it.
void fillTimeSlot(MonitorRecord& record, std::size_t index, const QString& timeText)
{
    QTextDocument* listing = monitorDoc(record)->listing();
    const int start = record.lineStarts[index];
    QTextCursor cursor(listing);
    cursor.setPosition(start);
    cursor.setPosition(start + record.lineSlots[index], QTextCursor::KeepAnchor);
    cursor.insertText(timeText, colourFormat(MonitorText::timeColour));
    const int delta = static_cast<int>(timeText.size()) - record.lineSlots[index];
    if (delta == 0)
        return;
    record.lineSlots[index] += delta;
    record.lineTextOffsets[index] += delta;
    for (std::size_t j = index + 1; j < record.lineStarts.size(); ++j)
        record.lineStarts[j] += delta;
}

} // namespace

MonitorRecord* FindMonitorBySocket(int handle)
{
    AppCore* core = AppCore::instance();
    if (!core)
        return nullptr;
    for (auto& record : core->monitors) {
        if (record->socket == handle && record->state != MonitorState::Finished)
            return record.get();
    }
    return nullptr;
}

MonitorRecord* FindMonitorByDocument(const CMonitorDoc* document)
{
    AppCore* core = AppCore::instance();
    if (!core)
        return nullptr;
    for (auto& record : core->monitors) {
        if (record->document == document)
            return record.get();
    }
    return nullptr;
}

void HandleMonitorMessage(MonitorRecord& record, int kind, vmsgMsgPort* message)
{
    if (!message || !record.document)
        return;
    const double t = message->timeStamp();
    int k = 0;
    QString text;
    switch (kind) {
    case PrintText:
    case LineCurrent:
    case LineStamp:
    case ExecutionStarted:
    case ExecutionFinished:
        // The messages whose time stamp is the kernel's time.
        if (kind == ExecutionStarted || record.startTime)
            record.latestTime = t;
        if (kind == ExecutionStarted && !record.startTime)
            record.startTime = t;
        break;
    default:
        break;
    }
    switch (kind) {
    case PrintText:
        if (popText(message, text))
            AppendConsoleLine(record, text, FormatKernelTime(t));
        break;
    case ProgramName:
        if (popText(message, text)) {
            if (record.programName != text) {
                record.programName = text;
                if (AppCore* core = AppCore::instance())
                    record.runNumber = ++core->runsOfProgram[text];
            }
            SetMonitorState(record, record.state);
        }
        break;
    case ListingLine:
        if (popInt(message, k) && popText(message, text))
            AppendListingLine(record, k, text);
        break;
    case ListingTop:
        monitorDoc(record)->showListingPosition(0);
        break;
    case LineCurrent:
        if (popInt(message, k)) {
            if (record.firedLines.insert(k).second)
                record.firedStatements = int(record.firedLines.size());
            MarkLine(record, k, LineMark::MarkCurrent, t);
            if (k >= 1 && std::size_t(k) <= record.lineStarts.size())
                monitorDoc(record)->record().addFiring({k, t, false, 0});
            monitorDoc(record)->live().lineFired(k);
            monitorDoc(record)->liveChanged();
        }
        break;
    case LineHighlight:
        if (popInt(message, k))
            MarkLine(record, k, LineMark::MarkHighlight);
        break;
    case LineStamp: {
        int status = 0;
        if (popInt(message, k) && popInt(message, status))
            MarkLine(record, k, LineMark::MarkStamp, t, status);
        break;
    }
    case LineRelease:
        ReleaseCurrentLine(record);
        break;
    case ExecutionStarted:
        SetMonitorState(record, MonitorState::Executing);
        AppendConsoleLine(record, QLatin1String(MonitorText::startedText), FormatKernelTime(t));
        break;
    case ExecutionFinished:
        SetMonitorState(record, MonitorState::Finished);
        AppendConsoleLine(record, QLatin1String(MonitorText::finishedText), FormatKernelTime(t));
        break;
    case LiveClock:
    case LiveWhen:
    case LiveDue:
    case LiveRamp:
    case LiveWritten:
    case LiveNotFired:
        handleLiveMessage(record, kind, message, t);
        break;
    default:
        break;
    }
}

void AppendConsoleLine(MonitorRecord& record, const QString& text, const QString& timeText)
{
    CMonitorDoc* doc = monitorDoc(record);
    if (!doc)
        return;
    QString line = MonitorText::consoleLine(text, timeText);
    // CR LF ends the line; the console makes a line of each line break inside.
    line.chop(2);
    line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    line.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    doc->appendConsoleLine(line);
}

void AppendListingLine(MonitorRecord& record, int number, const QString& reported)
{
    CMonitorDoc* doc = monitorDoc(record);
    if (!doc || record.lineStarts.size() >= std::size_t(MonitorText::maxListingLines))
        return;
    const bool calendar = calendarTime();
    const QString prefix = MonitorText::listingPrefix(number, calendar);
    const QString text = MonitorText::listingText(reported);
    QTextDocument* listing = doc->listing();
    QTextCursor cursor(listing);
    // One edit: the layout sees the finished line once.
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    // Every line ends with a line break: the end is the start of the empty last line.
    const int start = cursor.position();
    cursor.insertText(prefix, colourFormat(MonitorText::prefixColour));
    cursor.insertText(text, automaticFormat());
    const int comment = MonitorText::commentOffset(text);
    if (comment >= 0) {
        QTextCursor part(listing);
        part.setPosition(start + static_cast<int>(prefix.size()) + comment);
        part.setPosition(start + static_cast<int>(prefix.size() + text.size()), QTextCursor::KeepAnchor);
        part.setCharFormat(colourFormat(MonitorText::commentColour));
    }
    cursor.insertBlock(QTextBlockFormat(), automaticFormat());
    cursor.endEditBlock();
    record.lineStarts.push_back(start);
    // What the Runs pane counts as the program's statements: the lines the runner reads as one.
    kelm::Statement statement;
    std::string fault;
    if (kelm::readLine(reported.toStdString(), number, statement, fault) == kelm::LineKind::Statement) {
        // The tag the line writes: its ramp's and its written values are that tag's.
        if (!statement.tag.empty()) {
            RunRecord& run = doc->record();
            run.setWrittenTag(int(record.lineStarts.size()),
                              run.tagIndex(shownTag(QString::fromStdString(statement.tag))));
        }
        record.totalStatements = record.totalStatements.value_or(0) + 1;
        if (!record.firedStatements)
            record.firedStatements = 0;
    }
    record.lineSlots.push_back(MonitorText::slotWidth(calendar));
    record.lineTextOffsets.push_back(static_cast<int>(prefix.size()));
}

void MarkLine(MonitorRecord& record, int k, LineMark mode, double t, int status)
{
    CMonitorDoc* doc = monitorDoc(record);
    if (!doc || k < 1 || static_cast<std::size_t>(k) > record.lineStarts.size())
        return;
    QTextCursor edit(doc->listing());
    edit.beginEditBlock();
    if (mode == LineMark::MarkCurrent)
        ReleaseCurrentLine(record);
    const std::size_t index = static_cast<std::size_t>(k - 1);
    QTextCharFormat lineFormat;
    switch (mode) {
    case LineMark::MarkCurrent:
        fillTimeSlot(record, index, FormatKernelTime(t));
        lineFormat = automaticFormat(true);
        record.currentLine = k;
        break;
    case LineMark::MarkDone:
        lineFormat = colourFormat(MonitorText::doneColour);
        break;
    case LineMark::MarkHighlight:
        lineFormat = colourFormat(MonitorText::highlightColour, true);
        break;
    case LineMark::MarkStamp:
        fillTimeSlot(record, index, FormatKernelTime(t));
        if (status == StampStatus::Done) {
            lineFormat = colourFormat(MonitorText::doneColour);
        } else {
            lineFormat = colourFormat(MonitorText::activeStampColour, true);
            if (status == StampStatus::Active)
                record.currentLine = 0;
        }
        break;
    }
    QTextDocument* listing = doc->listing();
    const int textStart = record.lineStarts[index] + record.lineTextOffsets[index];
    const QTextBlock block = listing->findBlock(record.lineStarts[index]);
    QTextCursor range(listing);
    range.setPosition(textStart);
    range.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
    range.setCharFormat(lineFormat);
    edit.endEditBlock();
    if (mode == LineMark::MarkCurrent)
        doc->showListingPosition(textStart);
}

void ReleaseCurrentLine(MonitorRecord& record)
{
    if (record.currentLine == 0)
        return;
    const int line = record.currentLine;
    record.currentLine = 0;
    MarkLine(record, line, LineMark::MarkDone);
}

void SetMonitorState(MonitorRecord& record, MonitorState state)
{
    record.state = state;
    if (state == MonitorState::Finished)
        record.stopping = false;
    if (CMonitorDoc* doc = monitorDoc(record)) {
        const QString name = record.programName.value_or(doc->defaultTitle());
        doc->setTitle(MonitorText::title(static_cast<int>(state), name, record.stopping));
    }
    if (state == MonitorState::Finished) {
        ReleaseCurrentLine(record);
        if (CMonitorDoc* doc = monitorDoc(record)) {
            doc->live().setFinished();
            doc->liveChanged();
            doc->programEnded();
        }
    }
    CMDIFrame::requestCommandUpdate();
}

void FinishEndedByUser(MonitorRecord& record)
{
    if (record.state == MonitorState::Finished)
        return;
    AppendConsoleLine(record, QLatin1String(MonitorText::endedByUserText), QLatin1String(MonitorText::unknownTime));
    SetMonitorState(record, MonitorState::Finished);
}

void SendStop(MonitorRecord& record)
{
    SendStopRequest(record.socket);
}

void SendStopRequest(int socket)
{
    vmsgMsgPort port;
    port.write(socket, StopRequest, "   ", 0, true);
}
