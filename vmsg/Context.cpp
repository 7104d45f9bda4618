#include "vmsg/Context.h"

#include "protocol/Address.h"
#include "vmsg/Secret.h"

#include <algorithm>
#include <cstdlib>

namespace vmsg {

namespace {
constexpr std::chrono::milliseconds connectTimeout{2000};
constexpr std::size_t maxHandlersPerRound = 256;
// Deadline checks in scheduler(): about this far apart, at most this many deliveries apart.
constexpr std::chrono::microseconds checkInterval{20};
constexpr std::size_t maxStride = 64;
constexpr std::size_t smallestMaxMessage = 1024;
constexpr std::size_t largestMaxMessage = 64 * 1024 * 1024;

// Keeps the record a handler reads in place while it runs, whatever it queues or delivers meanwhile.
class Taken
{
public:
    Taken(Inbox& inbox, Record* record) : m_inbox(inbox), m_record(record) {}
    ~Taken() { m_inbox.letGo(m_record); }
    Taken(const Taken&) = delete;
    Taken& operator=(const Taken&) = delete;

private:
    Inbox& m_inbox;
    const Record* m_record;
};
// One secret for every port of the process, made when the first one listens.
const std::string& processSecret()
{
    static const std::string secret = makeSecret();
    return secret;
}

// Takes back VMSG_ADDRESS (and the secret published with it) when it still names address.
void unpublish(const std::string& address)
{
    const char* published = std::getenv(protocol::addressVariable);
    if (!published || address != published)
        return;
    ::unsetenv(protocol::addressVariable);
    ::unsetenv(secretVariable);
}
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

Context::Context() : m_node(std::make_unique<Node>(nullptr, defaultMaxMessage, static_cast<Node::Events&>(*this)))
{
    m_direct.reserve(inPlaceBytes);
}

Context::Context(asio::io_context& io)
    : m_node(std::make_unique<Node>(&io, defaultMaxMessage, static_cast<Node::Events&>(*this)))
{
    m_direct.reserve(inPlaceBytes);
}

Context::~Context()
{
    if (!m_address.empty())
        unpublish(m_address);
    m_node.reset();
}

Context& Context::global()
{
    static Context context;
    return context;
}

asio::io_context& Context::ioContext()
{
    return m_node->exposeIo();
}

void Context::configure(int maxMessage, int mode)
{
    const std::size_t bound =
        maxMessage <= 0 ? defaultMaxMessage
                        : std::clamp<std::size_t>(std::size_t(maxMessage), smallestMaxMessage, largestMaxMessage);
    m_node->setMaxMessage(bound);
    if (mode == 2) {
        // Without a secret from the system nobody could log on: the port stays shut.
        const std::string& secret = processSecret();
        if (m_address.empty() && !secret.empty() && m_node->listen("127.0.0.1", 0))
            m_address = "127.0.0.1:" + std::to_string(m_node->localPort());
        if (!m_address.empty()) {
            m_node->requireSecret(secret);
            ::setenv(protocol::addressVariable, m_address.c_str(), 1);
            ::setenv(secretVariable, secret.c_str(), 1);
        }
        return;
    }
    m_node->stopListening();
    if (!m_address.empty()) {
        unpublish(m_address);
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

// One scheduler call's delivering: the handler held for the call (a handler may register another),
// the port handed to each handler in turn, and the deadline, read after every stride deliveries, the
// stride chosen from the recent cost of a delivery so that about checkInterval passes between readings.
class Context::Turn
{
public:
    Turn(Context& context, Clock::time_point deadline)
        : handler(context.m_nonReply), port(context), m_deadline(deadline), m_lastCheck(Clock::now())
    {
    }

    Clock::time_point deadline() const { return m_deadline; }
    bool expired() const { return m_expired; }
    // Reads the clock; false once the deadline has passed.
    bool check()
    {
        m_lastCheck = Clock::now();
        m_sinceCheck = 0;
        m_expired = m_expired || m_lastCheck >= m_deadline;
        return !m_expired;
    }
    // After each delivery; false once the deadline has passed.
    bool counted()
    {
        if (++m_sinceCheck < m_stride)
            return true;
        const Clock::time_point last = m_lastCheck;
        const std::size_t since = m_sinceCheck;
        if (!check())
            return false;
        const Clock::duration each = (m_lastCheck - last) / Clock::rep(since);
        const auto until = std::min<Clock::duration>(checkInterval, m_deadline - m_lastCheck);
        const std::size_t fits = each.count() > 0 ? std::size_t(until / each) : maxStride;
        m_stride = std::clamp<std::size_t>(fits, 1, std::min(2 * m_stride, maxStride)); // at most doubles
        return true;
    }

    int delivered = 0;
    std::shared_ptr<const vmsgNonReplyHandler> handler;
    vmsgMsgPort port;

private:
    const Clock::time_point m_deadline;
    Clock::time_point m_lastCheck;
    std::size_t m_stride = 1;
    std::size_t m_sinceCheck = 0;
    bool m_expired = false;
};

int Context::scheduler(int)
{
    // A nested call (a handler's modal loop) leaves everything queued for the outer one.
    if (m_schedulerDepth > 0 && !m_reentrant)
        return 0;
    SchedulerGuard guard(m_schedulerDepth);
    // Called from a handler of a message straight from the read: the rest of that read comes first.
    if (m_directBusy)
        m_node->rereadBuffer(m_directHandle);

    Turn turn(*this, Clock::now() + schedulerBudget);
    // What arrived meanwhile (during a request, or read by another driver of the io_context) goes first.
    if (!deliverQueued(turn))
        return turn.delivered;
    m_node->runAsio(turn.deadline(), maxHandlersPerRound);
    m_node->collect();
    // Then one read burst after the other, each message delivered while its bytes are fresh.
    Turn* const outer = m_turn;
    for (;;) {
        if (!deliverQueued(turn))
            break;
        m_turn = &turn;
        const bool read = m_node->readRound();
        m_turn = outer;
        if (!read || turn.expired() || (queued() == 0 && !turn.check()))
            break;
    }
    return turn.delivered;
}

bool Context::deliverQueued(Turn& turn)
{
    if (queued() == 0)
        return true;
    if (!turn.check())
        return false;
    while (Record* record = m_inbox.take()) {
        const Taken taken(m_inbox, record);
        deliverQueuedRecord(turn, *record);
        if (!turn.counted())
            return false;
    }
    return true;
}

void Context::deliverQueuedRecord(Turn& turn, Record& record)
{
    // Nothing may refer to the queue once a handler runs: it may queue, deliver or forget.
    const int handle = record.handle;
    if (!record.isMessage) {
        const std::shared_ptr<const vmsgClientNotify> notify = m_clientNotify;
        if (notify && *notify) {
            ++turn.delivered;
            (*notify)(handle, record.event, m_clientNotifyUser);
        }
        return;
    }
    m_queuedBytes -= record.heldBytes;
    if (Flow* flow = static_cast<Flow*>(record.owner)) {
        --flow->messages;
        flow->bytes -= record.heldBytes;
        if (flow->messages == 0 ||
            (flow->paused && flow->messages <= flow->resumeMessages && flow->bytes <= flow->resumeBytes))
            updateFlow(handle);
    }
    if (m_held && m_queuedBytes <= m_pauseTotalBytes / 2)
        updateTotal();
    deliverMessage(turn, record);
}

void Context::renewTurn(Turn& turn)
{
    if (turn.handler.get() != m_nonReply.get())
        turn.handler = m_nonReply;
    turn.port.m_message.reset(); // a handler made the last one editable
}

inline void Context::deliverMessage(Turn& turn, Record& record)
{
    vmsgMsgPort& port = turn.port;
    if (turn.handler.get() != m_nonReply.get() || port.m_message)
        renewTurn(turn);
    if (!turn.handler || !*turn.handler)
        return;
    port.readRecord(&record);
    ++turn.delivered;
    (*turn.handler)(record.kind, &port);
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
    m_inbox.forEach([this, handle](Record& record) {
        if (record.handle != handle)
            return;
        if (record.isMessage)
            m_queuedBytes -= record.heldBytes;
        m_inbox.drop(record);
    });
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
    const int port = protocol::kernelPort(instance);
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
    // The port's reply object and its memory serve every request made with the port.
    vmsgMsgPort* reply = port.m_reply.get();
    if (reply) {
        reply->readRecord(nullptr);
        reply->m_message.reset();
    }
    if (!m_node->find(handle))
        return nullptr;
    const std::uint32_t requestId = m_nextRequestId++;
    if (m_nextRequestId == 0)
        m_nextRequestId = 1;
    if (!m_node->send(handle, FrameType::Data, kind, requestId, port.values()))
        return nullptr;
    if (!reply) {
        port.m_reply = std::make_unique<vmsgMsgPort>(*this);
        reply = port.m_reply.get();
    }
    if (!reply->m_replyRecord)
        reply->m_replyRecord = std::make_unique<RecordBuffer>();

    Waiter waiter;
    waiter.handle = handle;
    waiter.requestId = requestId;
    waiter.reply = reply->m_replyRecord.get();
    m_waiters.push_back(&waiter);
    updateFlow(handle);
    m_node->awaitOn(
        handle, [&waiter] { return waiter.replied || waiter.lost; }, Clock::now() + waitUnit * std::max(wait, 0));
    m_waiters.erase(std::find(m_waiters.begin(), m_waiters.end(), &waiter));
    updateFlow(handle);

    if (!waiter.replied)
        return nullptr;
    reply->readRecord(waiter.reply->record());
    return reply;
}

bool Context::isOpen(int handle) const
{
    return m_node->find(handle) != nullptr;
}

void Context::notify(int handle, int event)
{
    Record* record = m_inbox.appendEmpty();
    record->handle = handle;
    record->event = event;
}

void Context::clientLoggedOn(Connection& connection)
{
    notify(connection.handle(), eventLoggedOn);
}

inline bool Context::deliverNow(Connection& connection, std::uint8_t* frame)
{
    // The record points at the texts in the frame; the connection keeps the frame in place meanwhile.
    void* memory = m_direct.memory(); // holds inPlaceBytes at least
    const Record::InPlace outcome = Record::decodeInPlace(memory, frame);
    Record* record = outcome == Record::InPlace::Copy        ? m_direct.decode(frame)
                     : outcome == Record::InPlace::Malformed ? nullptr
                                                             : static_cast<Record*>(memory);
    if (!record) {
        connection.abort(eventError);
        return false;
    }
    record->handle = connection.handle();
    Turn& turn = *m_turn;
    m_directBusy = true;
    m_directHandle = record->handle;
    connection.holdInput(outcome == Record::InPlace::TextAtEnd);
    struct Release
    {
        Connection& connection;
        bool& busy;
        ~Release()
        {
            connection.releaseInput();
            busy = false;
        }
    } release{connection, m_directBusy};
    deliverMessage(turn, *record);
    turn.counted();
    return true;
}

void Context::framesArrived(Connection& connection)
{
    while (std::uint8_t* frame = connection.nextFrame()) {
        const FrameType type = FrameType(frame[3]);
        if (type == FrameType::Data && m_turn && !m_directBusy && m_inbox.size() == 0 && !m_turn->expired()) {
            // The scheduler reads and nothing waits before this message: no queue.
            if (!deliverNow(connection, frame))
                return;
        } else if (type == FrameType::Data) {
            if (!enqueue(connection, frame))
                return;
        } else if (type == FrameType::Reply) {
            if (!replyReceived(connection, frame))
                return;
        } else {
            connection.abort(eventError); // a second handshake
            return;
        }
    }
}

bool Context::enqueue(Connection& connection, const std::uint8_t* frame)
{
    Record* record = m_inbox.decode(frame);
    if (!record) {
        connection.abort(eventError);
        return false;
    }
    const int handle = connection.handle();
    Flow& flow = flowOf(handle);
    record->handle = handle;
    record->owner = &flow;
    ++flow.messages;
    flow.bytes += record->heldBytes;
    m_queuedBytes += record->heldBytes;
    if (flow.messages >= m_pauseMessages || flow.bytes >= m_pauseBytes || (m_held && flow.reading && !flow.waited))
        updateFlow(handle);
    if (!m_held && m_queuedBytes >= m_pauseTotalBytes)
        updateTotal();
    return true;
}

bool Context::replyReceived(Connection& connection, const std::uint8_t* frame)
{
    const std::uint32_t requestId = frameHeader(frame).requestId;
    const auto waiter = std::find_if(m_waiters.begin(), m_waiters.end(), [&](const Waiter* w) {
        return w->handle == connection.handle() && w->requestId == requestId && !w->replied;
    });
    // A reply after its request gave up is no unasked message: it is checked, and dropped.
    RecordBuffer dropped;
    RecordBuffer& into = waiter != m_waiters.end() ? *(*waiter)->reply : dropped;
    Record* record = into.decode(frame);
    if (!record) {
        connection.abort(eventError);
        return false;
    }
    if (waiter != m_waiters.end()) {
        record->handle = connection.handle();
        (*waiter)->replied = true;
    }
    return true;
}

void Context::connectionLost(int handle, int event)
{
    notify(handle, event);
    for (Waiter* waiter : m_waiters) {
        if (waiter->handle == handle)
            waiter->lost = true;
    }
    // The service keeps its handle until log_off or the next log_on, which drop this report.
    updateFlow(handle);
}

} // namespace vmsg
