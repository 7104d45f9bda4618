#pragma once

#include "sim/kernel/KernelService.h"
#include "vmsg/Message.h"
#include "vmsg/Peer.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

// The simulator's service on a thread of its own, listening on an ephemeral loopback port, with a
// record of every request and a seam to answer some of them differently. KelmDesk's side logs on
// to it through the process-wide message port.
class FakeKernel
{
public:
    struct Request
    {
        int kind = 0;
        std::vector<vmsg::Value> values;
    };
    // Returns the answer to a request, or nothing to let the simulator answer. Runs on the kernel's
    // thread while the requester waits.
    using Answer = std::function<std::optional<vmsg::Message>(const Request&)>;

    explicit FakeKernel(int generatedBlocks = 0, int tagsPerBlock = 0);
    ~FakeKernel();

    // Logs the process-wide port on to this kernel; returns the handle (0 on failure).
    int logOn();
    int port() const { return m_port; }

    void setAnswer(Answer answer);
    // Answers every request with what make() builds, from now on.
    void answerAll(std::function<vmsg::Message()> make);
    // Reply values: a string array; an inspection (two integers and, if given, the element names).
    static vmsg::Message names(std::vector<std::string> list);
    static vmsg::Message inspection(int compat, int type,
                                    std::optional<std::vector<std::string>> elements = std::nullopt);
    std::vector<Request> requests() const;
    // The first string of each request so far (its query text), in order.
    std::vector<std::string> queryTexts() const;
    void clearRequests();

private:
    std::ostringstream m_log;
    std::unique_ptr<KernelService> m_service;
    std::unique_ptr<vmsg::Peer> m_peer;
    mutable std::mutex m_mutex;
    Answer m_answer;
    std::vector<Request> m_requests;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    int m_port = 0;
};
