#pragma once

// The live state of statement lines for the monitor: what each when, after, at and ramp line is
// waiting for, and the kernel clock. A state is sent only when it differs from the last one sent
// for its line, at most kLineRate times a second per line and kRunnerRate times a second in all;
// a state held back is replaced by newer ones and sent as soon as the limits allow.

#include <deque>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kelm {

class Reporter;
struct Report;

class LiveReports
{
public:
    static constexpr double kLineInterval = 0.25; // at most 4 a second per line
    static constexpr int kRunnerRate = 400;       // at most 400 a second per runner

    explicit LiveReports(Reporter& reporter);
    ~LiveReports();
    LiveReports(const LiveReports&) = delete;
    LiveReports& operator=(const LiveReports&) = delete;

    // tags[i] has the value values[i]; nothing is kept of either after the call.
    void when(int line, bool holds, const std::vector<const std::string*>& tags, const std::vector<double>& values);
    void due(int line, double time);
    void ramp(int line, double value, double target);
    void clock(double time, int state);
    // The line fired or will never fire: what is pending for it is dropped.
    void settle(int line);
    // Sends what is pending and allowed at wall time wall (seconds), stamped with kernel time stamp.
    void flush(double wall, double stamp);
    // Drops everything pending.
    void clear();

    std::size_t pending() const { return m_pending.size(); }

private:
    struct Slot
    {
        std::vector<double> values;
        std::vector<std::string> tags;
        int kind = 0;
        int status = 0;
        bool sent = false;
        double lastSent = 0.0;
        // The state waiting to be sent.
        std::vector<double> nextValues;
        std::vector<std::string> nextTags;
        int nextKind = 0;
        int nextStatus = 0;
    };

    // Buffers are reused from look to look: a state that changes every look allocates nothing.
    void set(int line, int kind, int status, const double* values, std::size_t count,
             const std::vector<const std::string*>& tags);
    bool budgetAllows(double wall);

    Reporter& m_reporter;
    std::map<int, Slot> m_slots; // line 0: the clock
    std::set<int> m_pending;
    int m_next = 0;                 // round robin: where the next flush begins
    std::deque<double> m_sendTimes; // wall times of the sends within the last second
    std::vector<int> m_order;       // the pending lines of a flush, in the order of their turns
    Report* m_report = nullptr;     // reused for every send
};

} // namespace kelm
