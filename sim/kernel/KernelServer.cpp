#include "sim/kernel/KernelServer.h"

#include "vmsg/Message.h"

KernelServer::KernelServer(KernelService& service, std::ostream& log) : m_service(service), m_log(log)
{
    setUp();
}

KernelServer::KernelServer(KernelService& service, std::ostream& log, asio::io_context& io)
    : m_service(service), m_log(log), m_peer(io)
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
        m_log << "norvexsim: client " << handle << " logged on" << std::endl;
    } else {
        m_clients.erase(handle);
        m_log << "norvexsim: client " << handle << (event == vmsg::eventClosed ? " left" : " lost (error)")
              << std::endl;
    }
}

void KernelServer::onMessage(vmsg::Message& message)
{
    KernelService::Outcome outcome = m_service.handle(message, vmsg::wallClockNow());
    const bool asked = message.requestId != 0;
    if (asked && !m_peer.reply(message, outcome.reply))
        outcome.log += "; reply not sent";
    m_log << "norvexsim: " << (asked ? "request" : "message") << " kind " << message.kind << " from " << message.handle
          << ": " << describeValues(message) << " -> " << outcome.log << std::endl;
    if (outcome.stateChanged)
        broadcastStatus();
}

void KernelServer::broadcastStatus()
{
    const vmsg::Message status = m_service.status();
    // A client whose queue is full misses this status; the next one reaches it.
    for (int handle : m_clients)
        m_peer.send(handle, SimKind::Status, status);
}

void KernelServer::tick(double realSeconds)
{
    if (m_service.tick(realSeconds))
        broadcastStatus();
}

void KernelServer::control(int kind)
{
    vmsg::Message request;
    request.kind = kind;
    const KernelService::Outcome outcome = m_service.handle(request, vmsg::wallClockNow());
    m_log << "norvexsim: signal -> " << outcome.log << std::endl;
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
