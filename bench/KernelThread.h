#pragma once

#include "sim/kernel/KernelServer.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <thread>

// The simulator's server on a thread of its own, listening on an ephemeral loopback port, as the
// kernel runs in a process of its own.
class KernelThread
{
public:
    explicit KernelThread(const SimOptions& options = SimOptions())
    {
        m_service = std::make_unique<KernelService>(options, vmsg::wallClockNow());
        m_server = std::make_unique<KernelServer>(*m_service, m_log);
        m_server->listen("127.0.0.1", 0);
        m_port = m_server->localPort();
        m_thread =
            std::thread([this] { m_server->run(std::chrono::milliseconds(50), [this] { return !m_stop.load(); }); });
    }
    ~KernelThread()
    {
        m_stop = true;
        m_thread.join();
    }
    int port() const { return m_port; }

private:
    std::ostringstream m_log; // one line per request; kept off the terminal
    std::unique_ptr<KernelService> m_service;
    std::unique_ptr<KernelServer> m_server;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    int m_port = 0;
};
