#include "runner/LiveReports.h"

#include "runner/Interpreter.h"

#include <algorithm>

namespace kelm {

LiveReports::LiveReports(Reporter& reporter) : m_reporter(reporter), m_report(new Report) {}

LiveReports::~LiveReports()
{
    delete m_report;
}

void LiveReports::when(int line, bool holds, const std::vector<const std::string*>& tags,
                       const std::vector<double>& values)
{
    set(line, ClientMessageKind::LiveWhen, holds ? 1 : 0, values.data(), values.size(), tags);
}

void LiveReports::due(int line, double time)
{
    set(line, ClientMessageKind::LiveDue, 0, &time, 1, {});
}

void LiveReports::ramp(int line, double value, double target)
{
    const double values[] = {value, target};
    set(line, ClientMessageKind::LiveRamp, 0, values, 2, {});
}

void LiveReports::clock(double time, int state)
{
    set(0, ClientMessageKind::LiveClock, state, &time, 1, {});
}

namespace {

bool same(const std::vector<double>& have, const double* values, std::size_t count)
{
    return have.size() == count && std::equal(have.begin(), have.end(), values);
}

bool same(const std::vector<std::string>& have, const std::vector<const std::string*>& tags)
{
    if (have.size() != tags.size())
        return false;
    for (std::size_t i = 0; i < have.size(); ++i) {
        if (have[i] != *tags[i])
            return false;
    }
    return true;
}

} // namespace

void LiveReports::set(int line, int kind, int status, const double* values, std::size_t count,
                      const std::vector<const std::string*>& tags)
{
    Slot& slot = m_slots[line];
    if (slot.sent && slot.kind == kind && slot.status == status && same(slot.values, values, count) &&
        same(slot.tags, tags)) {
        // Back to what the monitor shows: nothing to send.
        m_pending.erase(line);
        return;
    }
    slot.nextKind = kind;
    slot.nextStatus = status;
    slot.nextValues.assign(values, values + count);
    slot.nextTags.resize(tags.size());
    for (std::size_t i = 0; i < tags.size(); ++i)
        slot.nextTags[i].assign(*tags[i]);
    m_pending.insert(line);
}

void LiveReports::settle(int line)
{
    m_pending.erase(line);
    m_slots.erase(line);
}

void LiveReports::clear()
{
    m_pending.clear();
}

bool LiveReports::budgetAllows(double wall)
{
    // A clock set back starts the count anew.
    if (!m_sendTimes.empty() && wall < m_sendTimes.back())
        m_sendTimes.clear();
    while (!m_sendTimes.empty() && m_sendTimes.front() <= wall - 1.0)
        m_sendTimes.pop_front();
    return m_sendTimes.size() < std::size_t(kRunnerRate);
}

void LiveReports::flush(double wall, double stamp)
{
    if (m_pending.empty())
        return;
    // Round robin, so that under the runner's limit the later lines get their turn as well.
    m_order.assign(m_pending.lower_bound(m_next), m_pending.end());
    m_order.insert(m_order.end(), m_pending.begin(), m_pending.lower_bound(m_next));
    for (int line : m_order) {
        Slot& slot = m_slots[line];
        if (slot.sent && wall - slot.lastSent < kLineInterval && wall >= slot.lastSent)
            continue;
        if (!budgetAllows(wall)) {
            m_next = line;
            return;
        }
        slot.kind = slot.nextKind;
        slot.status = slot.nextStatus;
        // Swapped, not moved: the buffers of the state sent before take the next state.
        std::swap(slot.values, slot.nextValues);
        std::swap(slot.tags, slot.nextTags);
        slot.sent = true;
        slot.lastSent = wall;
        m_pending.erase(line);
        m_sendTimes.push_back(wall);
        m_next = line + 1;

        Report& r = *m_report;
        r.kind = slot.kind;
        r.line = line;
        r.status = slot.status;
        r.values.assign(slot.values.begin(), slot.values.end());
        r.tags.resize(slot.tags.size());
        for (std::size_t i = 0; i < slot.tags.size(); ++i)
            r.tags[i].assign(slot.tags[i]);
        r.time = stamp;
        m_reporter.report(r);
    }
}

} // namespace kelm
