#pragma once

#include "vmsg/Message.h"
#include "vmsg/Peer.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A runner stand-in on its own thread, as a real runner is in its own process: connects to an
// address, sends what the test queues (in order, each with its time stamp) and records what it
// receives.
class ScriptedClient
{
public:
    explicit ScriptedClient(const std::string& address);
    ~ScriptedClient();

    // Queues one message; values are built by fill.
    void send(int kind, double timeStamp, const std::function<void(vmsg::Message&)>& fill = {});
    void sendText(int kind, double timeStamp, const std::string& text);
    void sendInt(int kind, double timeStamp, int value);
    // Closes the connection after everything queued before has been sent.
    void leave();
    // Drops the connection at once, as a killed process would.
    void vanish();

    bool loggedOn() const { return m_handle != 0; }
    std::vector<int> receivedKinds() const;
    // True once everything queued so far has been handed to the socket.
    bool idle() const;
    // Messages queued by send() so far.
    int sent() const { return m_sent; }

private:
    void run(const std::string& address);

    mutable std::mutex m_mutex;
    std::deque<std::function<void(vmsg::Peer&, int)>> m_queue;
    std::vector<int> m_received;
    std::atomic<int> m_handle{0};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_pending{0};
    std::atomic<int> m_sent{0};
    std::thread m_thread;
};
