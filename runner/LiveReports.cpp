#include "runner/LiveReports.h"

#include "runner/Interpreter.h"

namespace kelm {

void LiveReports::when(int line, bool holds, const std::vector<std::pair<std::string, double>>& values)
{
    std::vector<double> numbers;
    std::vector<std::string> tags;
    for (const auto& [tag, value] : values) {
        tags.push_back(tag);
        numbers.push_back(value);
    }
    set(line, ClientMessageKind::LiveWhen, holds ? 1 : 0, std::move(numbers), std::move(tags));
}

void LiveReports::due(int line, double time)
{
    set(line, ClientMessageKind::LiveDue, 0, {time}, {});
}

void LiveReports::ramp(int line, double value, double target)
{
    set(line, ClientMessageKind::LiveRamp, 0, {value, target}, {});
}

void LiveReports::clock(double time, int state)
{
    set(0, ClientMessageKind::LiveClock, state, {time}, {});
}

void LiveReports::set(int line, int kind, int status, std::vector<double> values, std::vector<std::string> tags)
{
    Slot& slot = m_slots[line];
    if (slot.sent && slot.kind == kind && slot.status == status && slot.values == values && slot.tags == tags) {
        // Back to what the monitor shows: nothing to send.
        m_pending.erase(line);
        return;
    }
    slot.nextKind = kind;
    slot.nextStatus = status;
    slot.nextValues = std::move(values);
    slot.nextTags = std::move(tags);
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
    std::vector<int> order(m_pending.lower_bound(m_next), m_pending.end());
    order.insert(order.end(), m_pending.begin(), m_pending.lower_bound(m_next));
    for (int line : order) {
        Slot& slot = m_slots[line];
        if (slot.sent && wall - slot.lastSent < kLineInterval && wall >= slot.lastSent)
            continue;
        if (!budgetAllows(wall)) {
            m_next = line;
            return;
        }
        slot.kind = slot.nextKind;
        slot.status = slot.nextStatus;
        slot.values = std::move(slot.nextValues);
        slot.tags = std::move(slot.nextTags);
        slot.sent = true;
        slot.lastSent = wall;
        m_pending.erase(line);
        m_sendTimes.push_back(wall);
        m_next = line + 1;

        Report r;
        r.kind = slot.kind;
        r.line = line;
        r.status = slot.status;
        r.values = slot.values;
        r.tags = slot.tags;
        r.time = stamp;
        m_reporter.report(r);
    }
}

} // namespace kelm
