#include "tests/model/FakeKernel.h"

#include "vmsg/vmsg.h"

#include <chrono>
#include <cstdlib>
#include <string>

FakeKernel::FakeKernel(int generatedBlocks, int tagsPerBlock)
{
    SimOptions options;
    options.state = KernelState::Paused;
    options.blocks = generatedBlocks;
    options.tags = tagsPerBlock;
    m_service = std::make_unique<KernelService>(options, vmsg::wallClockNow());
    m_peer = std::make_unique<vmsg::Peer>();
    m_peer->setMessageHandler([this](vmsg::Message& m) {
        Request request{m.kind, m.values};
        std::optional<vmsg::Message> answer;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
            if (m_answer)
                answer = m_answer(request);
        }
        if (!m.requestId)
            return;
        if (!answer)
            answer = std::move(m_service->handle(m, vmsg::wallClockNow()).reply);
        m_peer->reply(m, *answer);
    });
    if (m_peer->listen("127.0.0.1", 0))
        m_port = m_peer->localPort();
    m_thread = std::thread([this] {
        m_peer->run(std::chrono::milliseconds(20), [this] {
            if (m_stop)
                m_peer->stop();
        });
    });
}

FakeKernel::~FakeKernel()
{
    vmsgMsgPort().log_off(65536);
    m_stop = true;
    m_thread.join();
}

int FakeKernel::logOn()
{
    ::setenv("NORVEX_PORT_BASE", std::to_string(m_port).c_str(), 1);
    vmsgMsgPort port;
    const int handle = port.log_on(65536, 0, "127.0.0.1", false);
    ::unsetenv("NORVEX_PORT_BASE");
    return handle;
}

void FakeKernel::setAnswer(Answer answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer = std::move(answer);
}

void FakeKernel::answerAll(std::function<vmsg::Message()> make)
{
    setAnswer([make = std::move(make)](const Request&) { return std::optional<vmsg::Message>(make()); });
}

vmsg::Message FakeKernel::names(std::vector<std::string> list)
{
    vmsg::Message m;
    m.push(std::move(list));
    return m;
}

vmsg::Message FakeKernel::inspection(int compat, int type, std::optional<std::vector<std::string>> elements)
{
    vmsg::Message m;
    m.push(compat);
    m.push(type);
    if (elements)
        m.push(std::move(*elements));
    return m;
}

std::vector<FakeKernel::Request> FakeKernel::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<std::string> FakeKernel::queryTexts() const
{
    std::vector<std::string> texts;
    for (const Request& r : requests()) {
        const std::string* text = r.values.empty() ? nullptr : std::get_if<std::string>(&r.values.front());
        texts.push_back(text ? *text : std::string());
    }
    return texts;
}

void FakeKernel::clearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}
