#pragma once

// Runs a read program against a kernel: the scheduler of at/after/when, the operations, and the
// reports of each firing. It does no I/O of its own: the kernel is reached through KernelPort, the
// reports go to a Reporter, and time comes in through start() and update(), so tests drive it with a
// fake kernel and a fake clock.

#include "protocol/ClientMessageKind.h"
#include "lang/Program.h"
#include "runner/LiveReports.h"
#include "protocol/KernelKind.h"
#include "protocol/KernelStatus.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kelm {

using protocol::KernelState;

// One message for KelmDesk: kind, its values (line and status, or text) and the kernel time it
// carries as its time stamp. PrintText texts end in a line feed. The live kinds carry their
// numbers in values (and LiveWhen its tags beside them, LiveNotFired its lines in lines).
struct Report
{
    int kind = 0;
    int line = 0;
    int status = 0;
    std::string text;
    double time = 0.0;
    std::vector<double> values;
    std::vector<std::string> tags;
    std::vector<int> lines;
};

class Reporter
{
public:
    virtual ~Reporter() = default;
    virtual void report(const Report& report) = 0;
};

struct KernelReply
{
    enum class Status { Ok, Failed, Lost };
    Status status = Status::Ok;
    bool numeric = false; // a read or write: the tag's value is one number
    double value = 0.0;
    int code = 0;     // Failed: the kernel's error code
    std::string text; // Failed: the kernel's words; Lost: the reason

    static KernelReply number(double v)
    {
        KernelReply r;
        r.numeric = true;
        r.value = v;
        return r;
    }
    static KernelReply failed(int code, std::string text)
    {
        KernelReply r;
        r.status = Status::Failed;
        r.code = code;
        r.text = std::move(text);
        return r;
    }
    static KernelReply lost(std::string reason)
    {
        KernelReply r;
        r.status = Status::Lost;
        r.text = std::move(reason);
        return r;
    }
};

// The kernel's operations, each answered before it returns.
class KernelPort
{
public:
    virtual ~KernelPort() = default;
    virtual KernelReply read(const std::string& tag) = 0;
    virtual KernelReply write(const std::string& tag, double value) = 0;
    // ModelRun or ModelFreeze.
    virtual KernelReply control(SendKind kind) = 0;
    virtual KernelReply opcode(const std::string& name, const std::vector<std::string>& arguments) = 0;
};

// "when" conditions are evaluated on every kernel time update and at least this often (wall seconds).
constexpr double kWhenInterval = 0.25;

// A kernel time later than this many seconds before the wall clock (356 days) is a calendar time.
constexpr double kCalendarWindow = 30758400.0;

// Local calendar time in seconds since 1970 of date at secondsOfDay.
double localCalendarTime(const CalendarDate& date, double secondsOfDay);

// "hh:mm:ss" of an elapsed time, or "dd-mm-yy hh:mm:ss" local of a calendar time (seen from wallNow).
std::string formatKernelTime(double t, double wallNow);

// "%.10g": a value as a user wrote it, 0.1 not 0.10000000000000001.
std::string formatNumber(double value);

// The console line at the end of a run: how many of the statements fired and which lines never did
// ("4 of 6 statements fired. Never fired: lines 7, 9."). At most kMaxNotFiredListed lines are named.
std::string firedSummary(int fired, int total, const std::vector<int>& neverFired);
constexpr std::size_t kMaxNotFiredListed = 20;

class Interpreter
{
public:
    Interpreter(const Program& program, KernelPort& kernel, Reporter& reporter);

    // With state lines on, the kernel's state at the start and each change are console lines
    // ("Kernel: running").
    void setStateLines(bool on) { m_stateLines = on; }
    // With live reports on, the live state of every statement line goes to the reporter (LiveClock
    // to LiveNotFired), and the end brings the lines that never fired and firedSummary().
    void setLiveReports(bool on) { m_liveOn = on; }

    // Execution starts at kernel time t0: ExecutionStarted, the faulty lines and unknown tags
    // reported, then a first update.
    void start(double kernelTime, int state, double wallNow);
    // A kernel time update or a wall-clock tick: fires what fell due up to kernelTime, in order of
    // due time (line order among equal times), then the when statements whose conditions hold.
    void update(double kernelTime, int state, double wallNow);
    // StopRequest: "Stopped by request" and ExecutionFinished at once. Before start() it is kept,
    // and start() ends the run right after ExecutionStarted, before anything fires.
    void stopByRequest();
    // The kernel is gone: a console line with the reason; no ExecutionFinished.
    void kernelLost(const std::string& reason);

    bool ended() const { return m_ended; }
    bool finished() const { return m_finished; } // ExecutionFinished was sent
    bool lost() const { return m_ended && !m_finished; }
    double time() const { return m_time; }

private:
    enum class Phase { Waiting, Active, Done, Discarded };
    struct Entry
    {
        const Statement* statement = nullptr;
        Phase phase = Phase::Waiting;
        double due = 0.0;  // after, at: kernel time at which it fires
        double late = 0.0; // at: how late it was already at the start
        // A ramp under way.
        double rampStart = 0.0;
        double rampFrom = 0.0;
        double rampTarget = 0.0;
        double rampNext = 0.0;
    };

    static std::string stateText(int state);
    static bool timed(const Entry& entry); // a waiting after or at
    static double rampEnd(const Entry& entry);
    bool nextMoment(double until, double& moment) const;
    void advanceRamps();
    void emit(int kind, int line = 0, int status = 0, std::string text = std::string());
    void print(std::string text);
    void discard(Entry& entry, const std::string& why);
    void checkTags();
    bool conditionHolds(Entry& entry);
    void fire(Entry& entry);
    int perform(Entry& entry);
    int writeValue(const std::string& tag, const Expression& value);
    void rampStep(Entry& entry);
    ExprResult lookup(const std::string& tag);
    // False and the program ended when reply is Lost.
    bool alive(const KernelReply& reply);
    void finish();
    void reportWritten(int line, double value);
    void reportEnd();

    KernelPort& m_kernel;
    Reporter& m_reporter;
    const Program& m_program;
    std::vector<Entry> m_entries;
    double m_t0 = 0.0;
    double m_time = 0.0;
    int m_state = KernelState::NoModel;
    bool m_calendar = false;
    double m_lastEvaluation = 0.0;
    bool m_evaluated = false; // conditions were looked at once
    bool m_started = false;
    bool m_stateLines = false;
    bool m_stopRequested = false; // before the start
    bool m_ended = false;
    bool m_finished = false;
    bool m_liveOn = false;
    LiveReports m_live{m_reporter};
    // Reused by every look at a when line: its tags and their values for the live report.
    std::vector<const std::string*> m_whenTags;
    std::vector<double> m_whenValues;
    // The last value read or written of each tag, for the live state of when lines.
    std::map<std::string, double> m_tagValues;
    std::optional<double> m_written; // the value the last writeValue wrote
};

} // namespace kelm
