#include "vmsg/Context.h"

#include "vmsg/Address.h"

#include <algorithm>
#include <cstdlib>

namespace vmsg {

namespace {
using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds connectTimeout{2000};
constexpr std::size_t maxHandlersPerRound = 256;
// Deadline checks in scheduler(): about this far apart, at most this many deliveries apart.
constexpr std::chrono::microseconds checkInterval{20};
constexpr std::size_t maxStride = 8;
// Delivered messages up to this size hand their value storage on to later ones.
constexpr std::size_t recycledFrameBytes = 512;
constexpr std::size_t recycledValues = 16;
constexpr std::size_t smallestMaxMessage = 1024;
constexpr std::size_t largestMaxMessage = 64 * 1024 * 1024;
} // namespace

class Context::SchedulerGuard
{
public:
    explicit SchedulerGuard(int& depth) : m_depth(depth) { ++m_depth; }
    ~SchedulerGuard() { --m_depth; }
    SchedulerGuard(const SchedulerGuard&) = delete;
    SchedulerGuard& operator=(const SchedulerGuard&) = delete;

private:
    int& m_depth;
};

Context::Context() : m_node(std::make_unique<Node>(nullptr, defaultMaxMessage, static_cast<Node::Events&>(*this))) {}

Context::Context(asio::io_context& io)
    : m_node(std::make_unique<Node>(&io, defaultMaxMessage, static_cast<Node::Events&>(*this)))
{
}

Context::~Context()
{
    if (!m_address.empty()) {
        const char* published = std::getenv(addressVariable);
        if (published && m_address == published)
            ::unsetenv(addressVariable);
    }
    m_node.reset();
}

Context& Context::global()
{
    static Context context;
    return context;
}

asio::io_context& Context::ioContext()
{
    return m_node->io();
}

void Context::configure(int maxMessage, int mode)
{
    const std::size_t bound =
        maxMessage <= 0 ? defaultMaxMessage
                        : std::clamp<std::size_t>(std::size_t(maxMessage), smallestMaxMessage, largestMaxMessage);
    m_node->setMaxMessage(bound);
    if (mode == 2) {
        if (m_address.empty() && m_node->listen("127.0.0.1", 0))
            m_address = "127.0.0.1:" + std::to_string(m_node->localPort());
        if (!m_address.empty())
            ::setenv(addressVariable, m_address.c_str(), 1);
        return;
    }
    m_node->stopListening();
    if (!m_address.empty()) {
        const char* published = std::getenv(addressVariable);
        if (published && m_address == published)
            ::unsetenv(addressVariable);
        m_address.clear();
    }
}

std::string Context::address() const
{
    return m_address;
}

void Context::registerClientNotify(vmsgClientNotify handler, long user)
{
    m_clientNotify = std::make_shared<const vmsgClientNotify>(std::move(handler));
    m_clientNotifyUser = user;
}

void Context::registerNonReply(vmsgNonReplyHandler handler)
{
    m_nonReply = std::make_shared<const vmsgNonReplyHandler>(std::move(handler));
}

void Context::setSchedulerReentrant(bool reentrant)
{
    m_reentrant = reentrant;
}

int Context::scheduler(int)
{
    // A nested call (a handler's modal loop) leaves everything queued for the outer one.
    if (m_schedulerDepth > 0 && !m_reentrant)
        return 0;
    SchedulerGuard guard(m_schedulerDepth);

    const Clock::time_point deadline = Clock::now() + schedulerBudget;
    std::shared_ptr<const vmsgNonReplyHandler> handler = m_nonReply;
    int delivered = 0;
    for (;;) {
        m_node->poll(deadline, maxHandlersPerRound);
        if (queued() == 0)
            break;
        // The clock is read after every stride deliveries, the stride chosen from the recent cost of
        // a delivery so that about checkInterval passes between readings.
        Clock::time_point lastCheck = Clock::now();
        std::size_t stride = 1;
        std::size_t sinceCheck = 0;
        while (queued() > 0) {
            deliverNext(handler, delivered);
            if (++sinceCheck < stride)
                continue;
            const Clock::time_point now = Clock::now();
            if (now >= deadline)
                return delivered;
            const Clock::duration each = (now - lastCheck) / Clock::rep(sinceCheck);
            const auto until = std::min<Clock::duration>(checkInterval, deadline - now);
            stride = each.count() > 0 ? std::clamp<std::size_t>(std::size_t(until / each), 1, maxStride) : maxStride;
            lastCheck = now;
            sinceCheck = 0;
        }
    }
    return delivered;
}

Context::Pending& Context::enqueue()
{
    if (m_queueTail == m_queue.size()) {
        if (m_queueHead > 0 && m_queueHead >= m_queue.size() / 2) {
            std::rotate(m_queue.begin(), m_queue.begin() + std::ptrdiff_t(m_queueHead), m_queue.end());
            m_queueTail -= m_queueHead;
            m_queueHead = 0;
        } else {
            m_queue.emplace_back();
        }
    }
    return m_queue[m_queueTail++];
}

void Context::deliverNext(std::shared_ptr<const vmsgNonReplyHandler>& handler, int& delivered)
{
    // Nothing may refer to the slot once a handler runs: it may queue, deliver or forget.
    Pending& item = m_queue[m_queueHead];
    const int handle = item.handle;
    std::unique_ptr<Message> message;
    if (item.isMessage) {
        m_queuedBytes -= item.valueBytes;
        if (Flow* flow = item.flow) {
            --flow->messages;
            flow->bytes -= item.valueBytes;
            if (flow->messages == 0 ||
                (flow->paused && flow->messages <= flow->resumeMessages && flow->bytes <= flow->resumeBytes))
                updateFlow(handle);
        }
        if (m_held && m_queuedBytes <= m_pauseTotalBytes / 2)
            updateTotal();
        if (handler.get() != m_nonReply.get())
            handler = m_nonReply;
        if (handler && *handler) {
            message = m_spare ? std::move(m_spare) : std::make_unique<Message>();
            message->adopt(std::move(item.message));
        }
    }
    const bool isMessage = item.isMessage;
    const int event = item.event;
    const std::size_t bytes = item.bytes;
    if (++m_queueHead == m_queueTail)
        m_queueHead = m_queueTail = 0;

    if (!isMessage) {
        const std::shared_ptr<const vmsgClientNotify> notify = m_clientNotify;
        if (notify && *notify) {
            ++delivered;
            (*notify)(handle, event, m_clientNotifyUser);
        }
        return;
    }
    if (!message)
        return;
    const int kind = message->kind;
    vmsgMsgPort port(std::move(message), this);
    ++delivered;
    (*handler)(kind, &port);
    message = std::move(port.m_message);
    // Only small messages' storage goes round again, so the queue's slots stay small.
    if (bytes > recycledFrameBytes || message->values.capacity() > recycledValues)
        std::vector<Value>().swap(message->values);
    m_spare = std::move(message);
}

Context::Flow& Context::flowOf(int handle)
{
    if (m_lastFlow && m_lastFlowHandle == handle)
        return *m_lastFlow;
    m_lastFlowHandle = handle;
    m_lastFlow = &m_flow[handle];
    return *m_lastFlow;
}

void Context::eraseFlow(int handle)
{
    if (m_lastFlowHandle == handle)
        m_lastFlow = nullptr;
    m_flow.erase(handle);
}

void Context::updateFlow(int handle)
{
    const auto it = m_flow.find(handle);
    if (it == m_flow.end())
        return;
    Flow& flow = it->second;
    // A blocking request must still find its reply behind a backlog, so its connection may queue more.
    const bool waited =
        std::any_of(m_waiters.begin(), m_waiters.end(), [handle](const Waiter* w) { return w->handle == handle; });
    const std::size_t maxMessages = waited ? 8 * m_pauseMessages : m_pauseMessages;
    const std::size_t maxBytes = waited ? 8 * m_pauseBytes : m_pauseBytes;
    flow.waited = waited;
    flow.resumeMessages = maxMessages / 2;
    flow.resumeBytes = maxBytes / 2;
    if (!flow.paused && (flow.messages >= maxMessages || flow.bytes >= maxBytes))
        flow.paused = true;
    else if (flow.paused && flow.messages <= flow.resumeMessages && flow.bytes <= flow.resumeBytes)
        flow.paused = false;
    const bool reading = !flow.paused && (!m_held || waited);
    if (reading != flow.reading) {
        flow.reading = reading;
        m_node->setReading(handle, reading);
    }
    if (flow.messages == 0 && !m_node->find(handle))
        eraseFlow(handle);
}

void Context::updateTotal()
{
    const bool held = m_held ? m_queuedBytes > m_pauseTotalBytes / 2 : m_queuedBytes >= m_pauseTotalBytes;
    if (held == m_held)
        return;
    m_held = held;
    // A connection without queued messages has no flow yet: it pauses with its first message.
    std::vector<int> handles;
    handles.reserve(m_flow.size());
    for (const auto& entry : m_flow)
        handles.push_back(entry.first);
    for (int handle : handles)
        updateFlow(handle);
}

void Context::setPauseLimits(std::size_t messages, std::size_t bytes, std::size_t totalBytes)
{
    m_pauseMessages = std::max<std::size_t>(messages, 2);
    m_pauseBytes = std::max<std::size_t>(bytes, 2);
    m_pauseTotalBytes = std::max<std::size_t>(totalBytes, 2);
}

void Context::setConnectionLimits(const Node::Limits& limits)
{
    m_node->setLimits(limits);
}

void Context::forget(int handle)
{
    m_node->close(handle);
    std::size_t kept = m_queueHead;
    for (std::size_t i = m_queueHead; i < m_queueTail; ++i) {
        if (m_queue[i].handle == handle) {
            if (m_queue[i].isMessage)
                m_queuedBytes -= m_queue[i].valueBytes;
            continue;
        }
        if (kept != i)
            std::swap(m_queue[kept], m_queue[i]);
        ++kept;
    }
    m_queueTail = kept;
    if (m_queueHead == m_queueTail)
        m_queueHead = m_queueTail = 0;
    eraseFlow(handle);
    for (Waiter* waiter : m_waiters) {
        if (waiter->handle == handle)
            waiter->lost = true;
    }
    if (m_held)
        updateTotal();
}

int Context::logOn(int service, int instance, const char* host, bool flag)
{
    const int port = kernelPort(instance);
    if (!host || !*host || !port)
        return 0;
    logOff(service);
    Message values;
    values.push(flag ? 1 : 0);
    values.push(instance);
    const int handle = m_node->connect(host, port, service, values, Clock::now() + connectTimeout);
    if (handle)
        m_services[service] = handle;
    return handle;
}

void Context::logOff(int service)
{
    const auto it = m_services.find(service);
    if (it == m_services.end())
        return;
    const int handle = it->second;
    m_services.erase(it);
    forget(handle);
}

int Context::write(int handle, int kind, const Message& values)
{
    return m_node->send(handle, FrameType::Data, kind, 0, values) ? 1 : 0;
}

vmsgMsgPort* Context::requestBlock(vmsgMsgPort& port, int handle, int kind, int wait)
{
    port.m_reply.reset();
    if (!m_node->find(handle))
        return nullptr;
    const std::uint32_t requestId = m_nextRequestId++;
    if (m_nextRequestId == 0)
        m_nextRequestId = 1;
    if (!m_node->send(handle, FrameType::Data, kind, requestId, port.message()))
        return nullptr;

    Waiter waiter;
    waiter.handle = handle;
    waiter.requestId = requestId;
    m_waiters.push_back(&waiter);
    updateFlow(handle);
    m_node->runUntil([&waiter] { return waiter.reply || waiter.lost; }, Clock::now() + waitUnit * std::max(wait, 0));
    m_waiters.erase(std::find(m_waiters.begin(), m_waiters.end(), &waiter));
    updateFlow(handle);

    if (!waiter.reply)
        return nullptr;
    port.m_reply.reset(new vmsgMsgPort(std::move(waiter.reply), this));
    return port.m_reply.get();
}

bool Context::isOpen(int handle) const
{
    return m_node->find(handle) != nullptr;
}

void Context::clientLoggedOn(Connection& connection)
{
    Pending& item = enqueue();
    item.handle = connection.handle();
    item.event = eventLoggedOn;
    item.isMessage = false;
    item.bytes = 0;
    item.valueBytes = 0;
    item.flow = nullptr;
}

void Context::messageReceived(Connection& connection, Message& message, std::size_t frameSize)
{
    const int handle = connection.handle();
    Flow& flow = flowOf(handle);
    Pending& item = enqueue();
    item.handle = handle;
    item.event = 0;
    item.isMessage = true;
    item.bytes = frameSize;
    item.flow = &flow;
    item.message.adopt(std::move(message));
    item.valueBytes = item.message.valueBytes();
    ++flow.messages;
    flow.bytes += item.valueBytes;
    m_queuedBytes += item.valueBytes;
    if (flow.messages >= m_pauseMessages || flow.bytes >= m_pauseBytes || (m_held && flow.reading && !flow.waited))
        updateFlow(handle);
    if (!m_held && m_queuedBytes >= m_pauseTotalBytes)
        updateTotal();
}

void Context::replyReceived(Connection& connection, Message& message)
{
    for (Waiter* waiter : m_waiters) {
        if (waiter->handle == connection.handle() && waiter->requestId == message.requestId && !waiter->reply) {
            waiter->reply = std::make_unique<Message>(std::move(message));
            return;
        }
    }
    // A reply after its request gave up is no unasked message: dropped.
}

void Context::connectionLost(int handle, int event)
{
    Pending& item = enqueue();
    item.handle = handle;
    item.event = event;
    item.isMessage = false;
    item.bytes = 0;
    item.valueBytes = 0;
    item.flow = nullptr;
    for (Waiter* waiter : m_waiters) {
        if (waiter->handle == handle)
            waiter->lost = true;
    }
    // The service keeps its handle until log_off or the next log_on, which drop this report.
    updateFlow(handle);
}

} // namespace vmsg
