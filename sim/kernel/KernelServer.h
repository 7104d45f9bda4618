#pragma once

#include "sim/kernel/KernelService.h"
#include "sim/kernel/SimLog.h"
#include "vmsg/Peer.h"

#include <chrono>
#include <functional>
#include <ostream>
#include <set>
#include <string>

// The simulator on the network: answers every request of a logged-on client, and sends each client
// the status unasked once per simulated second and on every change of state. Logs each log-on,
// each leave and each request as one line, at a bounded rate (see SimLog).
class KernelServer
{
public:
    KernelServer(KernelService& service, std::ostream& log);
    KernelServer(KernelService& service, SimLog::Sink log, SimLog::Rate rate = SimLog::Rate());
    // Shares io with other endpoints (tests drive both ends on one thread).
    KernelServer(KernelService& service, std::ostream& log, asio::io_context& io);

    bool listen(const std::string& address, int port);
    int localPort() const { return m_peer.localPort(); }

    // Advances the simulation by realSeconds and sends the status when it is due.
    void tick(double realSeconds);
    // Changes state as the request of that kind would, from outside the network (signals).
    void control(int kind);

    // Runs until stop(): the network, and tick() every period.
    void run(std::chrono::milliseconds period, const std::function<bool()>& keepRunning);
    vmsg::Peer& peer() { return m_peer; }
    const std::set<int>& clients() const { return m_clients; }
    SimLog& log() { return m_log; }

private:
    void setUp();
    void onConnection(int handle, int event);
    void onMessage(vmsg::Message& message);
    void broadcastStatus();

    KernelService& m_service;
    SimLog m_log;
    vmsg::Peer m_peer;
    std::set<int> m_clients;
};
