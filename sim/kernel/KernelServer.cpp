#include "sim/kernel/KernelServer.h"

#include "vmsg/Message.h"

#include <sstream>

KernelServer::KernelServer(KernelService& service, std::ostream& log)
    : m_service(service), m_log(SimLog::streamSink(log))
{
    setUp();
}

KernelServer::KernelServer(KernelService& service, SimLog::Sink log, SimLog::Rate rate)
    : m_service(service), m_log(std::move(log), rate)
{
    setUp();
}

KernelServer::KernelServer(KernelService& service, std::ostream& log, asio::io_context& io)
    : m_service(service), m_log(SimLog::streamSink(log)), m_peer(io)
{
    setUp();
}

void KernelServer::setUp()
{
    m_peer.setConnectionHandler([this](int handle, int event) { onConnection(handle, event); });
    m_peer.setMessageHandler([this](vmsg::Message& message) { onMessage(message); });
}

bool KernelServer::listen(const std::string& address, int port)
{
    return m_peer.listen(address, port);
}

void KernelServer::onConnection(int handle, int event)
{
    if (event == vmsg::eventLoggedOn) {
        m_clients.insert(handle);
        m_log.line(SimLog::Channel::Clients, "client " + std::to_string(handle) + " logged on");
    } else {
        m_clients.erase(handle);
        m_log.line(SimLog::Channel::Clients,
                   "client " + std::to_string(handle) + (event == vmsg::eventClosed ? " left" : " lost (error)"));
    }
}

void KernelServer::onMessage(vmsg::Message& message)
{
    KernelService::Outcome outcome = m_service.handle(message, vmsg::wallClockNow());
    const bool asked = message.requestId != 0;
    if (asked && !m_peer.reply(message, outcome.reply))
        outcome.log += "; reply not sent";
    m_log.lineOf(SimLog::Channel::Messages, [&] {
        std::ostringstream text;
        text << (asked ? "request" : "message") << " kind " << message.kind << " from " << message.handle << ": "
             << describeValues(message) << " -> " << outcome.log;
        return text.str();
    });
    if (outcome.stateChanged)
        broadcastStatus();
}

void KernelServer::broadcastStatus()
{
    const vmsg::Message status = m_service.status();
    // A client whose queue is full misses this status; the next one reaches it.
    for (int handle : m_clients)
        m_peer.send(handle, KernelKind::Status, status);
}

void KernelServer::tick(double realSeconds)
{
    if (m_service.tick(realSeconds))
        broadcastStatus();
    m_log.flush();
}

void KernelServer::control(int kind)
{
    vmsg::Message request;
    request.kind = kind;
    const KernelService::Outcome outcome = m_service.handle(request, vmsg::wallClockNow());
    m_log.line(SimLog::Channel::Clients, "signal -> " + outcome.log);
    if (outcome.stateChanged)
        broadcastStatus();
}

void KernelServer::run(std::chrono::milliseconds period, const std::function<bool()>& keepRunning)
{
    auto last = std::chrono::steady_clock::now();
    m_peer.run(period, [&] {
        const auto now = std::chrono::steady_clock::now();
        tick(std::chrono::duration<double>(now - last).count());
        last = now;
        if (!keepRunning())
            m_peer.stop();
    });
}
