#pragma once

#include "tags/TagKnowledge.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

// Asks the kernel on a connection of its own, driven by a thread of its own, so that a kernel that
// answers slowly or not at all never holds up the user-interface thread. Answers are handed back on
// the thread that made the source, through its event loop. Each request waits at most WaitUnits
// (of 100 ms) for its reply; a log-on at most the message port's own wait.
class KernelTagSource final : public TagSource
{
public:
    static constexpr int WaitUnits = 20;

    KernelTagSource();
    ~KernelTagSource() override;
    KernelTagSource(const KernelTagSource&) = delete;
    KernelTagSource& operator=(const KernelTagSource&) = delete;

    void ask(const QString& kernel, const TagQuery& query, std::function<void(const TagAnswer&)> done) override;

private:
    struct Job
    {
        QString kernel;
        TagQuery query;
        std::function<void(const TagAnswer&)> done;
    };
    void run();

    std::unique_ptr<QObject> m_receiver; // answers are delivered in its thread
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stop = false;
    std::thread m_thread;
};
