#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

// Lines a second of each of the log's channels, after a first burst.
struct SimLogRate
{
    double linesPerSecond = 100;
    double burst = 200;
};

// The simulator's log: one line per event, at a bounded rate, never holding up the service. Lines
// beyond the rate, or that the output cannot take at once, are left out and counted; the count is
// logged ("norvexsim: ... N lines left out") as soon as the rate allows a line again.
class SimLog
{
public:
    using Clock = std::chrono::steady_clock;
    // Takes one whole line (line feed included); false when it cannot take it now.
    using Sink = std::function<bool(const std::string& line)>;

    // Client log-ons and leaves, and received messages, each have a budget of their own, so that a
    // flood of requests does not hide who came and went.
    enum class Channel { Clients, Messages };

    using Rate = SimLogRate;

    explicit SimLog(Sink sink, Rate rate = Rate());
    // Writes to out as lines come: for tests and tools that keep the log in memory.
    static Sink streamSink(std::ostream& out);

    // text without prefix and line feed.
    void line(Channel channel, const std::string& text, Clock::time_point now = Clock::now())
    {
        if (admit(channel, now))
            put(text);
    }
    // The same, composing the text only when the line is written.
    template <class Compose> void lineOf(Channel channel, Compose&& compose, Clock::time_point now = Clock::now())
    {
        if (admit(channel, now))
            put(compose());
    }
    // Always tried, outside the budgets (start and end of the service); still left out when the sink
    // cannot take it.
    void notice(const std::string& text);
    // Logs the counts of lines left out once a channel's budget allows, also without new lines.
    void flush(Clock::time_point now = Clock::now());
    // Lines left out so far, counted or still to be counted.
    std::uint64_t leftOut() const { return m_leftOut; }

private:
    struct Budget
    {
        double tokens = 0;
        Clock::time_point last;
        std::uint64_t pending = 0; // left out, not yet reported
    };
    // True when channel may write a line now (after the count of lines left out before it); else
    // counts the line as left out.
    bool admit(Channel channel, Clock::time_point now);
    bool take(Budget& budget, Clock::time_point now);
    bool write(const std::string& text);
    void put(const std::string& text);
    void reportLeftOut(Budget& budget);

    Sink m_sink;
    Rate m_rate;
    Budget m_budgets[2];
    // Left out because the sink was full: reported on the channel of the next line that gets through.
    std::uint64_t m_sinkFull = 0;
    std::uint64_t m_leftOut = 0;
};

// Writes lines to a file descriptor from a thread of its own, through a bounded queue, so that an
// output nobody reads (a full pipe) leaves lines out instead of holding up the service.
class LogWriter
{
public:
    explicit LogWriter(int fd, std::size_t maxQueuedBytes = 256 * 1024);
    // Waits up to drainTimeout for the queue to be written, then leaves a writer stuck in a full
    // pipe behind (the process is ending).
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // False, taking nothing, when the queue is full.
    bool write(const std::string& line);
    SimLog::Sink sink();

    static constexpr std::chrono::milliseconds drainTimeout{1000};

private:
    struct State;
    std::shared_ptr<State> m_state;
};
