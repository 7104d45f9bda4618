#include "sim/kernel/SimLog.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {
const char* const prefix = "norvexsim: ";
}

SimLog::SimLog(Sink sink, Rate rate) : m_sink(std::move(sink)), m_rate(rate)
{
    const Clock::time_point now = Clock::now();
    for (Budget& budget : m_budgets) {
        budget.tokens = m_rate.burst;
        budget.last = now;
    }
}

SimLog::Sink SimLog::streamSink(std::ostream& out)
{
    return [&out](const std::string& line) {
        out << line;
        out.flush();
        return true;
    };
}

bool SimLog::take(Budget& budget, Clock::time_point now)
{
    const double elapsed = std::chrono::duration<double>(now - budget.last).count();
    budget.last = std::max(budget.last, now);
    budget.tokens = std::min(m_rate.burst, budget.tokens + std::max(0.0, elapsed) * m_rate.linesPerSecond);
    if (budget.tokens < 1)
        return false;
    budget.tokens -= 1;
    return true;
}

bool SimLog::write(const std::string& text)
{
    std::string line;
    line.reserve(text.size() + 12);
    line += prefix;
    line += text;
    line += '\n';
    return m_sink(line);
}

void SimLog::put(const std::string& text)
{
    if (write(text))
        return;
    ++m_sinkFull;
    ++m_leftOut;
}

void SimLog::reportLeftOut(Budget& budget)
{
    const std::uint64_t count = budget.pending + m_sinkFull;
    // A report the sink cannot take leaves the counts for the next one.
    if (count == 0 || !write("... " + std::to_string(count) + (count == 1 ? " line" : " lines") + " left out"))
        return;
    budget.pending = 0;
    m_sinkFull = 0;
}

bool SimLog::admit(Channel channel, Clock::time_point now)
{
    Budget& budget = m_budgets[int(channel)];
    if (!take(budget, now)) {
        ++budget.pending;
        ++m_leftOut;
        return false;
    }
    reportLeftOut(budget);
    return true;
}

void SimLog::notice(const std::string& text)
{
    put(text);
}

void SimLog::flush(Clock::time_point now)
{
    for (Budget& budget : m_budgets) {
        if ((budget.pending > 0 || m_sinkFull > 0) && take(budget, now))
            reportLeftOut(budget);
    }
}

struct LogWriter::State
{
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable drained;
    std::deque<std::string> queue;
    std::size_t bytes = 0;
    std::size_t maxBytes = 0;
    bool writing = false;
    bool stop = false;
    int fd = -1;

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stop || !queue.empty(); });
            if (queue.empty())
                return;
            std::string line = std::move(queue.front());
            queue.pop_front();
            bytes -= line.size();
            writing = true;
            lock.unlock();
            writeAll(line);
            lock.lock();
            writing = false;
            if (queue.empty())
                drained.notify_all();
        }
    }

    void writeAll(const std::string& line) const
    {
        std::size_t done = 0;
        while (done < line.size()) {
            const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
            if (n > 0)
                done += std::size_t(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else
                return; // a closed or failing output: the line is lost, the service goes on
        }
    }
};

LogWriter::LogWriter(int fd, std::size_t maxQueuedBytes) : m_state(std::make_shared<State>())
{
    m_state->fd = fd;
    m_state->maxBytes = maxQueuedBytes;
    // The thread holds the state: it may outlive the writer in a write that never returns.
    std::thread([state = m_state] { state->run(); }).detach();
}

LogWriter::~LogWriter()
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->drained.wait_for(lock, drainTimeout, [this] { return m_state->queue.empty() && !m_state->writing; });
    m_state->stop = true;
    m_state->wake.notify_all();
}

bool LogWriter::write(const std::string& line)
{
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->bytes + line.size() > m_state->maxBytes)
            return false;
        m_state->bytes += line.size();
        m_state->queue.push_back(line);
    }
    m_state->wake.notify_one();
    return true;
}

SimLog::Sink LogWriter::sink()
{
    return [this](const std::string& line) { return write(line); };
}
