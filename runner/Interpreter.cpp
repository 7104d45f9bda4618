#include "runner/Interpreter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>

namespace kelm {

namespace {

std::string braced(const std::string& tag)
{
    return "{" + tag + "}";
}

std::string lineText(int line)
{
    return "Line " + std::to_string(line) + ": ";
}

std::string sendText(const Statement& s)
{
    std::string text = "send(" + s.opcode;
    for (const std::string& argument : s.arguments)
        text += ", " + argument;
    return text + ")";
}

} // namespace

double localCalendarTime(const CalendarDate& date, double secondsOfDay)
{
    std::tm local{};
    local.tm_mday = date.day;
    local.tm_mon = date.month - 1;
    local.tm_year = date.year - 1900;
    local.tm_isdst = -1;
    const double whole = std::floor(secondsOfDay);
    local.tm_sec = int(std::min(whole, 1e9)); // mktime carries seconds into minutes, hours and days
    const std::time_t t = std::mktime(&local);
    return double(t) + (secondsOfDay - whole);
}

std::string formatKernelTime(double t, double wallNow)
{
    char text[64];
    if (!std::isfinite(t))
        t = 0.0;
    if (t > wallNow - kCalendarWindow) {
        const std::time_t seconds = std::time_t(std::floor(std::min(t, 1e15)));
        std::tm local{};
        if (localtime_r(&seconds, &local)) {
            std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                          local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec);
            return text;
        }
    }
    const long long whole = static_cast<long long>(std::trunc(std::min(std::fabs(t), 1e15)));
    std::snprintf(text, sizeof text, "%s%02lld:%02lld:%02lld", t <= -1.0 ? "-" : "", whole / 3600, whole / 60 % 60,
                  whole % 60);
    return text;
}

std::string formatNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value == 0.0 ? 0.0 : value);
    return text;
}

std::string firedSummary(int fired, int total, const std::vector<int>& neverFired)
{
    std::string text =
        std::to_string(fired) + " of " + std::to_string(total) + " statement" + (total == 1 ? "" : "s") + " fired.";
    if (neverFired.empty())
        return text;
    text += neverFired.size() == 1 ? " Never fired: line " : " Never fired: lines ";
    const std::size_t named = std::min(neverFired.size(), kMaxNotFiredListed);
    for (std::size_t i = 0; i < named; ++i)
        text += (i == 0 ? "" : ", ") + std::to_string(neverFired[i]);
    if (named < neverFired.size())
        text += " and " + std::to_string(neverFired.size() - named) + " more";
    return text + ".";
}

Interpreter::Interpreter(const Program& program, KernelPort& kernel, Reporter& reporter)
    : m_kernel(kernel), m_reporter(reporter), m_program(program)
{
    for (const Statement& s : program.statements) {
        Entry entry;
        entry.statement = &s;
        m_entries.push_back(entry);
    }
}

void Interpreter::emit(int kind, int line, int status, std::string text)
{
    Report r;
    r.kind = kind;
    r.line = line;
    r.status = status;
    r.text = std::move(text);
    r.time = m_time;
    m_reporter.report(r);
}

void Interpreter::print(std::string text)
{
    emit(ClientMessageKind::PrintText, 0, 0, std::move(text) + "\n");
}

void Interpreter::discard(Entry& entry, const std::string& why)
{
    entry.phase = Phase::Discarded;
    m_live.settle(entry.statement->line);
    print(lineText(entry.statement->line) + why);
    emit(ClientMessageKind::LineHighlight, entry.statement->line);
}

bool Interpreter::alive(const KernelReply& reply)
{
    if (reply.status != KernelReply::Status::Lost)
        return true;
    kernelLost(reply.text);
    return false;
}

void Interpreter::start(double kernelTime, int state, double wallNow)
{
    if (m_started)
        return;
    m_started = true;
    m_t0 = m_time = kernelTime;
    m_state = state;
    m_calendar = kernelTime > wallNow - kCalendarWindow;
    emit(ClientMessageKind::ExecutionStarted);
    if (m_stateLines)
        print(stateText(state));
    if (m_stopRequested) {
        stopByRequest();
        return;
    }
    for (const LineFault& fault : m_program.faults) {
        print(lineText(fault.line) + fault.message);
        emit(ClientMessageKind::LineHighlight, fault.line);
    }
    for (Entry& entry : m_entries) {
        const Statement& s = *entry.statement;
        if (s.trigger == TriggerKind::After) {
            entry.due = m_t0 + s.seconds;
        } else if (s.trigger == TriggerKind::At) {
            if (s.dated && !m_calendar) {
                discard(entry, "a date needs a kernel on calendar time; this statement will not fire.");
                continue;
            }
            entry.due = s.dated ? localCalendarTime(s.date, s.seconds) : s.seconds;
            entry.late = std::max(0.0, m_t0 - entry.due);
        }
    }
    checkTags();
    if (m_liveOn) {
        for (const Entry& entry : m_entries) {
            if (timed(entry))
                m_live.due(entry.statement->line, entry.due);
        }
    }
    update(kernelTime, state, wallNow);
}

// Every tag is read once before anything fires, so a misspelt tag is reported at the start and its
// statements never fire, instead of failing halfway through the program.
void Interpreter::checkTags()
{
    if (m_state == KernelState::NoModel)
        return;
    std::map<std::string, std::string> unknown;
    std::set<std::string> seen;
    for (Entry& entry : m_entries) {
        if (entry.phase != Phase::Waiting)
            continue;
        for (const std::string& tag : entry.statement->tags()) {
            if (!seen.insert(tag).second)
                continue;
            const KernelReply reply = m_kernel.read(tag);
            if (!alive(reply))
                return;
            if (reply.status == KernelReply::Status::Failed && reply.code == KernelError::NoSuchVariable)
                unknown[tag] = reply.text;
            else if (reply.status == KernelReply::Status::Ok && reply.numeric)
                m_tagValues[tag] = reply.value;
        }
    }
    for (Entry& entry : m_entries) {
        if (entry.phase != Phase::Waiting)
            continue;
        for (const std::string& tag : entry.statement->tags()) {
            const auto it = unknown.find(tag);
            if (it != unknown.end()) {
                discard(entry, "unknown tag " + braced(tag) + ": " + it->second);
                break;
            }
        }
    }
}

std::string Interpreter::stateText(int state)
{
    switch (state) {
    case KernelState::NoModel:
        return "Kernel: no model loaded";
    case KernelState::Running:
        return "Kernel: running";
    case KernelState::Paused:
        return "Kernel: paused";
    default:
        return "Kernel: state " + std::to_string(state);
    }
}

bool Interpreter::timed(const Entry& entry)
{
    return entry.phase == Phase::Waiting && entry.statement->trigger != TriggerKind::When;
}

double Interpreter::rampEnd(const Entry& entry)
{
    return entry.rampStart + entry.statement->rampTime;
}

// The earliest moment up to until at which a timed statement falls due or a ramp completes; false
// when there is none.
bool Interpreter::nextMoment(double until, double& moment) const
{
    bool found = false;
    for (const Entry& entry : m_entries) {
        double t = 0.0;
        if (timed(entry))
            t = entry.due;
        else if (entry.phase == Phase::Active)
            t = rampEnd(entry);
        else
            continue;
        if (t <= until && (!found || t < moment)) {
            moment = t;
            found = true;
        }
    }
    return found;
}

void Interpreter::advanceRamps()
{
    for (Entry& entry : m_entries) {
        if (m_ended)
            return;
        if (entry.phase == Phase::Active)
            rampStep(entry);
    }
}

// One look may span many simulated seconds. What fell due in it fires in order of its time, each
// firing stamped with that time and seeing what the earlier ones wrote, as if the kernel had been
// looked at every moment: at each moment the ramps under way move on first, then the statements due
// then fire in line order. Ramp steps between two such moments are not written one by one: only
// the value reached at the next moment is.
void Interpreter::update(double kernelTime, int state, double wallNow)
{
    if (!m_started || m_ended)
        return;
    if (m_stateLines && state != m_state)
        print(stateText(state));
    const bool changed = kernelTime != m_time || state != m_state;
    m_state = state;
    const bool evaluate =
        changed || !m_evaluated || wallNow - m_lastEvaluation >= kWhenInterval || wallNow < m_lastEvaluation;
    if (evaluate) {
        m_lastEvaluation = wallNow;
        m_evaluated = true;
    }

    double moment = 0.0;
    while (!m_ended && nextMoment(kernelTime, moment)) {
        // An at already past at the start fires at the start, not back in time.
        m_time = std::max(m_time, moment);
        advanceRamps();
        for (Entry& entry : m_entries) {
            if (m_ended)
                return;
            if (timed(entry) && entry.due <= m_time)
                fire(entry);
        }
    }
    if (m_ended)
        return;
    m_time = kernelTime;
    advanceRamps();
    // A condition is looked at when the look is made, after everything timed up to then.
    for (Entry& entry : m_entries) {
        if (m_ended)
            return;
        if (entry.phase != Phase::Waiting || entry.statement->trigger != TriggerKind::When)
            continue;
        const bool holds = evaluate && conditionHolds(entry);
        if (m_ended)
            return;
        if (holds)
            fire(entry);
    }
    if (!m_ended && std::none_of(m_entries.begin(), m_entries.end(),
                                 [](const Entry& e) { return e.phase == Phase::Waiting || e.phase == Phase::Active; }))
        finish();
    if (m_ended || !m_liveOn)
        return;
    m_live.clock(m_time, m_state);
    m_live.flush(wallNow, m_time);
}

ExprResult Interpreter::lookup(const std::string& tag)
{
    const KernelReply reply = m_kernel.read(tag);
    switch (reply.status) {
    case KernelReply::Status::Ok:
        if (!reply.numeric)
            return ExprResult::failure(braced(tag) + " is not a number");
        m_tagValues[tag] = reply.value;
        return ExprResult::of(reply.value);
    case KernelReply::Status::Failed:
        return ExprResult::failure(braced(tag) + ": " + reply.text);
    case KernelReply::Status::Lost:
        break;
    }
    kernelLost(reply.text);
    return ExprResult::failure(reply.text);
}

bool Interpreter::conditionHolds(Entry& entry)
{
    // Without a model no tag can be read; the condition waits for one.
    if (m_state == KernelState::NoModel)
        return false;
    const ExprResult result =
        entry.statement->condition.evaluate([this](const std::string& tag) { return lookup(tag); });
    if (m_ended)
        return false;
    if (!result.ok()) {
        discard(entry, "the condition cannot be evaluated: " + result.error + "; this statement will not fire.");
        return false;
    }
    const bool holds = result.value != 0.0;
    if (m_liveOn) {
        // Tags the condition did not need this time (the right side of and, or) keep their last value.
        m_whenTags.clear();
        m_whenValues.clear();
        for (const std::string& tag : entry.statement->condition.tags()) {
            const auto it = m_tagValues.find(tag);
            if (it != m_tagValues.end()) {
                m_whenTags.push_back(&tag);
                m_whenValues.push_back(it->second);
            }
        }
        m_live.when(entry.statement->line, holds, m_whenTags, m_whenValues);
    }
    return holds;
}

void Interpreter::fire(Entry& entry)
{
    const int line = entry.statement->line;
    entry.phase = Phase::Done;
    m_live.settle(line);
    m_written.reset();
    emit(ClientMessageKind::LineCurrent, line);
    if (entry.late > 0.0)
        print("Fired " + formatNumber(entry.late) + " s late: its time had passed when the program started.");
    const int status = perform(entry);
    if (m_ended)
        return;
    if (status == StampStatus::Active)
        entry.phase = Phase::Active;
    emit(ClientMessageKind::LineStamp, line, status);
    if (status == StampStatus::Done && m_written)
        reportWritten(line, *m_written);
    emit(ClientMessageKind::LineRelease);
    // The release greys the line like a done one; the highlight keeps a failure in sight.
    if (status == StampStatus::Failed)
        emit(ClientMessageKind::LineHighlight, line);
    if (entry.statement->operation == OperationKind::Stop)
        finish();
}

int Interpreter::writeValue(const std::string& tag, const Expression& value)
{
    const ExprResult v = value.evaluate([this](const std::string& t) { return lookup(t); });
    if (m_ended)
        return StampStatus::Failed;
    if (!v.ok()) {
        print(braced(tag) + ": the value cannot be evaluated: " + v.error);
        return StampStatus::Failed;
    }
    const KernelReply reply = m_kernel.write(tag, v.value);
    if (!alive(reply))
        return StampStatus::Failed;
    if (reply.status == KernelReply::Status::Failed) {
        print(braced(tag) + " = " + formatNumber(v.value) + ": " + reply.text);
        return StampStatus::Failed;
    }
    print(braced(tag) + " = " + formatNumber(v.value));
    m_tagValues[tag] = v.value;
    m_written = v.value;
    return StampStatus::Done;
}

int Interpreter::perform(Entry& entry)
{
    const Statement& s = *entry.statement;
    switch (s.operation) {
    case OperationKind::Set:
        return writeValue(s.tag, s.value);
    case OperationKind::Ramp: {
        const KernelReply from = m_kernel.read(s.tag);
        if (!alive(from))
            return StampStatus::Failed;
        if (from.status == KernelReply::Status::Failed || !from.numeric) {
            print(braced(s.tag) + ": " +
                  (from.status == KernelReply::Status::Failed ? from.text : std::string("not a number")));
            return StampStatus::Failed;
        }
        if (s.rampTime <= 0.0)
            return writeValue(s.tag, s.value);
        const ExprResult target = s.value.evaluate([this](const std::string& t) { return lookup(t); });
        if (m_ended)
            return StampStatus::Failed;
        if (!target.ok()) {
            print(braced(s.tag) + ": the ramp target cannot be evaluated: " + target.error);
            return StampStatus::Failed;
        }
        entry.rampStart = m_time;
        entry.rampFrom = from.value;
        entry.rampTarget = target.value;
        entry.rampNext = m_time + std::min(s.rampStep, s.rampTime);
        if (m_liveOn)
            m_live.ramp(s.line, from.value, target.value);
        print("ramp " + braced(s.tag) + " from " + formatNumber(from.value) + " to " + formatNumber(target.value) +
              " over " + formatNumber(s.rampTime) + " s in steps of " + formatNumber(s.rampStep) + " s");
        return StampStatus::Active;
    }
    case OperationKind::Send: {
        if (s.send == SendKind::SetVariable)
            return writeValue(s.tag, s.value);
        const KernelReply reply =
            s.send == SendKind::Other ? m_kernel.opcode(s.opcode, s.arguments) : m_kernel.control(s.send);
        if (!alive(reply))
            return StampStatus::Failed;
        if (reply.status == KernelReply::Status::Failed) {
            print(sendText(s) + ": " + reply.text);
            return StampStatus::Failed;
        }
        print(sendText(s));
        return StampStatus::Done;
    }
    case OperationKind::Stop:
    case OperationKind::NoChoice:
        print("stop");
        return StampStatus::Done;
    }
    return StampStatus::Failed;
}

// Writes the value the ramp has reached by now, at most once per update: when the clock jumps over
// several steps only the latest value is written, and the last write is exactly the target.
void Interpreter::rampStep(Entry& entry)
{
    const Statement& s = *entry.statement;
    if (m_time < entry.rampNext)
        return;
    const double elapsed = m_time - entry.rampStart;
    const bool last = elapsed >= s.rampTime;
    double value = entry.rampTarget;
    if (!last) {
        const double steps = std::floor(elapsed / s.rampStep + 1e-9);
        value = entry.rampFrom + (entry.rampTarget - entry.rampFrom) * (steps * s.rampStep / s.rampTime);
        entry.rampNext = std::min(entry.rampStart + (steps + 1.0) * s.rampStep, entry.rampStart + s.rampTime);
    }
    const KernelReply reply = m_kernel.write(s.tag, value);
    if (!alive(reply))
        return;
    if (reply.status == KernelReply::Status::Failed) {
        entry.phase = Phase::Done;
        m_live.settle(s.line);
        print(lineText(s.line) + "ramp stopped: " + braced(s.tag) + " = " + formatNumber(value) + ": " + reply.text);
        emit(ClientMessageKind::LineStamp, s.line, StampStatus::Failed);
        emit(ClientMessageKind::LineHighlight, s.line);
        return;
    }
    m_tagValues[s.tag] = value;
    if (last) {
        entry.phase = Phase::Done;
        m_live.settle(s.line);
        print(lineText(s.line) + "ramp complete: " + braced(s.tag) + " = " + formatNumber(value));
        emit(ClientMessageKind::LineStamp, s.line, StampStatus::Done);
        reportWritten(s.line, value);
    } else if (m_liveOn) {
        m_live.ramp(s.line, value, entry.rampTarget);
    }
}

// Part of the firing, so outside the limits of the live states: once per line and run.
void Interpreter::reportWritten(int line, double value)
{
    if (!m_liveOn)
        return;
    Report r;
    r.kind = ClientMessageKind::LiveWritten;
    r.line = line;
    r.values = {value};
    r.time = m_time;
    m_reporter.report(r);
}

// The lines that never fired, on the monitor and as the console's summary.
void Interpreter::reportEnd()
{
    m_live.clear();
    if (!m_liveOn)
        return;
    std::vector<int> never;
    for (const LineFault& fault : m_program.faults)
        never.push_back(fault.line);
    for (const Entry& entry : m_entries) {
        if (entry.phase == Phase::Waiting || entry.phase == Phase::Discarded)
            never.push_back(entry.statement->line);
    }
    std::sort(never.begin(), never.end());
    for (std::size_t i = 0; i < never.size(); i += std::size_t(kMaxNotFiredPerMessage)) {
        Report r;
        r.kind = ClientMessageKind::LiveNotFired;
        r.lines.assign(never.begin() + std::ptrdiff_t(i),
                       never.begin() + std::ptrdiff_t(std::min(never.size(), i + std::size_t(kMaxNotFiredPerMessage))));
        r.time = m_time;
        m_reporter.report(r);
    }
    const int total = m_program.statementCount();
    print(firedSummary(total - int(never.size()), total, never));
}

void Interpreter::finish()
{
    if (m_ended)
        return;
    reportEnd();
    emit(ClientMessageKind::ExecutionFinished);
    m_ended = true;
    m_finished = true;
}

void Interpreter::stopByRequest()
{
    if (m_ended)
        return;
    if (!m_started) {
        m_stopRequested = true;
        return;
    }
    print("Stopped by request");
    finish();
}

void Interpreter::kernelLost(const std::string& reason)
{
    if (m_ended)
        return;
    print("Lost the connection to the kernel: " + reason);
    m_ended = true;
}

} // namespace kelm
