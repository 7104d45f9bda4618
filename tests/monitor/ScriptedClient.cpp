#include "tests/monitor/ScriptedClient.h"

#include <chrono>

ScriptedClient::ScriptedClient(const std::string& address)
{
    m_thread = std::thread([this, address] { run(address); });
}

ScriptedClient::~ScriptedClient()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void ScriptedClient::run(const std::string& address)
{
    vmsg::Peer peer;
    peer.setMessageHandler([this](vmsg::Message& m) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back(m.kind);
    });
    const int handle = peer.connect(address, std::chrono::seconds(5));
    m_handle = handle;
    while (!m_stop) {
        std::function<void(vmsg::Peer&, int)> action;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_queue.empty()) {
                action = std::move(m_queue.front());
                m_queue.pop_front();
            }
        }
        if (action) {
            if (handle)
                action(peer, handle);
            --m_pending;
            continue;
        }
        peer.poll(std::chrono::milliseconds(5));
    }
}

void ScriptedClient::send(int kind, double timeStamp, const std::function<void(vmsg::Message&)>& fill)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_pending;
    ++m_sent;
    m_queue.push_back([kind, timeStamp, fill](vmsg::Peer& peer, int handle) {
        vmsg::Message m;
        if (fill)
            fill(m);
        m.setTimeStamp(timeStamp);
        // A full output queue means the other side is slow: wait for room, never drop.
        while (!peer.send(handle, kind, m) && peer.isOpen(handle))
            peer.poll(std::chrono::milliseconds(2));
        peer.flush(handle, std::chrono::seconds(5));
    });
}

void ScriptedClient::sendText(int kind, double timeStamp, const std::string& text)
{
    send(kind, timeStamp, [text](vmsg::Message& m) { m.push(text); });
}

void ScriptedClient::sendInt(int kind, double timeStamp, int value)
{
    send(kind, timeStamp, [value](vmsg::Message& m) { m.push(value); });
}

void ScriptedClient::leave()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_pending;
    m_queue.push_back([](vmsg::Peer& peer, int handle) {
        peer.flush(handle, std::chrono::seconds(5));
        peer.close(handle);
        peer.flush(handle, std::chrono::seconds(1));
    });
}

void ScriptedClient::vanish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_pending;
    m_queue.push_back([](vmsg::Peer& peer, int handle) { peer.close(handle); });
}

std::vector<int> ScriptedClient::receivedKinds() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

bool ScriptedClient::idle() const
{
    return m_pending == 0;
}
