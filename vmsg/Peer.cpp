#include "vmsg/Peer.h"

#include "vmsg/Node.h"

#include <asio/post.hpp>

#include <algorithm>
#include <deque>
#include <unordered_map>
#include <vector>

namespace vmsg {

using Clock = std::chrono::steady_clock;

class Peer::Impl final : public Node::Events
{
public:
    // Reading a connection pauses while this many of its messages, or the bytes their values hold,
    // wait, e.g. behind a handler that waits for a reply; it resumes at half of both.
    static constexpr std::size_t pauseMessages = 4096;
    static constexpr std::size_t pauseBytes = 1024 * 1024;

    Impl(asio::io_context* io, std::size_t maxMessage) : node(io, maxMessage, *this)
    {
        // A server computes replies only for clients that take them: one frame bound may wait.
        node.setClientOutputHold(maxMessage);
    }

    struct Waiter
    {
        int handle = 0;
        std::uint32_t requestId = 0;
        bool lost = false;
        std::unique_ptr<Message> reply;
    };
    struct Pending
    {
        int handle = 0;
        int event = 0;
        bool isMessage = false;
        std::size_t bytes = 0;
        Message message;
    };
    struct Flow
    {
        std::size_t messages = 0;
        std::size_t bytes = 0;
        bool paused = false;
    };

    // Decodes and checks the values; false when they are malformed.
    static bool decode(const std::uint8_t* frame, int handle, Message& message)
    {
        const FrameHeader header = frameHeader(frame);
        message.handle = handle;
        message.kind = header.kind;
        message.requestId = header.requestId;
        message.timeStamp = header.timeStamp;
        message.hasTimeStamp = true;
        return decodeValues(frame + frameHeaderSize, frame + header.length, message);
    }

    // Reports come from the node's reading, where handlers may run: unless one runs already, earlier
    // queued work goes first and then the report is handled at once, in a message reused each time.
    void clientLoggedOn(Connection& connection) override
    {
        runPending();
        if (!delivering) {
            callConnection(connection.handle(), eventLoggedOn);
            runPending();
            return;
        }
        Pending item;
        item.handle = connection.handle();
        item.event = eventLoggedOn;
        queue.push_back(std::move(item));
    }

    void framesArrived(Connection& connection) override
    {
        while (const std::uint8_t* frame = connection.nextFrame()) {
            switch (FrameType(frame[3])) {
            case FrameType::Data:
                messageReceived(connection, frame);
                break;
            case FrameType::Reply:
                replyReceived(connection, frame);
                break;
            default:
                connection.abort(eventError); // a second handshake
                return;
            }
        }
    }

    void messageReceived(Connection& connection, const std::uint8_t* frame)
    {
        runPending();
        if (!delivering) {
            if (!decode(frame, connection.handle(), current)) {
                connection.abort(eventError);
                return;
            }
            callMessage(current);
            runPending();
            return;
        }
        Pending item;
        item.handle = connection.handle();
        item.isMessage = true;
        if (!decode(frame, item.handle, item.message)) {
            connection.abort(eventError);
            return;
        }
        item.bytes = item.message.valueBytes();
        Flow& flow = waiting[item.handle];
        ++flow.messages;
        flow.bytes += item.bytes;
        if (!flow.paused && (flow.messages >= pauseMessages || flow.bytes >= pauseBytes)) {
            flow.paused = true;
            node.setReading(item.handle, false);
        }
        queue.push_back(std::move(item));
    }

    void replyReceived(Connection& connection, const std::uint8_t* frame)
    {
        const std::uint32_t requestId = frameHeader(frame).requestId;
        const auto waiter = std::find_if(waiters.begin(), waiters.end(), [&](const Waiter* w) {
            return w->handle == connection.handle() && w->requestId == requestId && !w->reply;
        });
        // A reply nobody waits for is checked, and dropped.
        auto reply = std::make_unique<Message>();
        if (!decode(frame, connection.handle(), *reply)) {
            connection.abort(eventError);
            return;
        }
        if (waiter != waiters.end())
            (*waiter)->reply = std::move(reply);
    }

    // May come from inside a send: the handler runs later, from the loop or the io_context.
    void connectionLost(int handle, int event) override
    {
        for (Waiter* waiter : waiters) {
            if (waiter->handle == handle)
                waiter->lost = true;
        }
        Pending item;
        item.handle = handle;
        item.event = event;
        queue.push_back(std::move(item));
        // The node's loops run it anyway; a shared io_context may be run without them.
        if (deliveryPosted || !node.sharedIo())
            return;
        deliveryPosted = true;
        asio::post(node.io(), [this, alive = std::weak_ptr<char>(alive)] {
            if (alive.expired())
                return;
            deliveryPosted = false;
            runPending();
        });
    }

    // Handlers never nest: one that waits (request, flush) leaves later messages queued, in order.
    void runPending() override
    {
        while (!delivering && !queue.empty()) {
            Pending item = std::move(queue.front());
            queue.pop_front();
            if (!item.isMessage) {
                callConnection(item.handle, item.event);
                continue;
            }
            const auto it = waiting.find(item.handle);
            if (it != waiting.end()) {
                Flow& flow = it->second;
                --flow.messages;
                flow.bytes -= item.bytes;
                if (flow.paused && flow.messages <= pauseMessages / 2 && flow.bytes <= pauseBytes / 2) {
                    flow.paused = false;
                    node.setReading(item.handle, true);
                }
                if (flow.messages == 0)
                    waiting.erase(it);
            }
            callMessage(item.message);
        }
    }

    void callMessage(Message& message)
    {
        delivering = true;
        ++handlersRun;
        if (onMessage)
            onMessage(message);
        delivering = false;
    }

    void callConnection(int handle, int event)
    {
        delivering = true;
        ++handlersRun;
        if (onConnection)
            onConnection(handle, event);
        delivering = false;
    }

    void forget(int handle)
    {
        queue.erase(
            std::remove_if(queue.begin(), queue.end(), [handle](const Pending& p) { return p.handle == handle; }),
            queue.end());
        waiting.erase(handle);
        for (Waiter* waiter : waiters) {
            if (waiter->handle == handle)
                waiter->lost = true;
        }
    }

    Node node;
    MessageHandler onMessage;
    ConnectionHandler onConnection;
    Message current; // the message handed to the handler straight from the read
    std::deque<Pending> queue;
    std::unordered_map<int, Flow> waiting;
    std::vector<Waiter*> waiters;
    std::uint32_t nextRequestId = 1;
    int handlersRun = 0;
    bool deliveryPosted = false;
    bool delivering = false;
    bool stopped = false;
    std::shared_ptr<char> alive = std::make_shared<char>();
};

Peer::Peer(std::size_t maxMessage) : m_impl(std::make_unique<Impl>(nullptr, maxMessage)) {}

Peer::Peer(asio::io_context& io, std::size_t maxMessage) : m_impl(std::make_unique<Impl>(&io, maxMessage)) {}

Peer::~Peer() = default;

void Peer::setMessageHandler(MessageHandler handler)
{
    m_impl->onMessage = std::move(handler);
}

void Peer::setConnectionHandler(ConnectionHandler handler)
{
    m_impl->onConnection = std::move(handler);
}

bool Peer::listen(const std::string& address, int port)
{
    return m_impl->node.listen(address, port);
}

int Peer::localPort() const
{
    return m_impl->node.localPort();
}

void Peer::stopListening()
{
    m_impl->node.stopListening();
}

int Peer::connect(const std::string& host, int port, std::chrono::milliseconds timeout, int service)
{
    return m_impl->node.connect(host, port, service, Message(), Clock::now() + timeout);
}

int Peer::connect(const std::string& hostPort, std::chrono::milliseconds timeout, int service)
{
    std::string host;
    int port = 0;
    if (!protocol::splitHostPort(hostPort, host, port))
        return 0;
    return connect(host, port, timeout, service);
}

bool Peer::send(int handle, int kind, const Message& values)
{
    return m_impl->node.send(handle, FrameType::Data, kind, 0, values);
}

bool Peer::reply(const Message& request, const Message& values)
{
    if (request.requestId == 0)
        return false;
    return m_impl->node.send(request.handle, FrameType::Reply, request.kind, request.requestId, values);
}

std::unique_ptr<Message> Peer::request(int handle, int kind, const Message& values, std::chrono::milliseconds timeout)
{
    Impl& d = *m_impl;
    const std::uint32_t requestId = d.nextRequestId++;
    if (d.nextRequestId == 0)
        d.nextRequestId = 1;
    if (!d.node.send(handle, FrameType::Data, kind, requestId, values))
        return nullptr;
    Impl::Waiter waiter;
    waiter.handle = handle;
    waiter.requestId = requestId;
    d.waiters.push_back(&waiter);
    d.node.runUntil([&waiter] { return waiter.reply || waiter.lost; }, Clock::now() + timeout);
    d.waiters.erase(std::find(d.waiters.begin(), d.waiters.end(), &waiter));
    return std::move(waiter.reply);
}

void Peer::close(int handle)
{
    m_impl->node.close(handle);
    m_impl->forget(handle);
}

bool Peer::isOpen(int handle) const
{
    return m_impl->node.find(handle) != nullptr;
}

std::size_t Peer::queuedBytes(int handle) const
{
    const Connection* connection = m_impl->node.find(handle);
    return connection ? connection->queuedBytes() : 0;
}

bool Peer::flush(int handle, std::chrono::milliseconds timeout)
{
    Node& node = m_impl->node;
    auto drained = [&node, handle] {
        const Connection* connection = node.find(handle);
        return !connection || connection->queuedBytes() == 0;
    };
    return node.runUntil(drained, Clock::now() + timeout) && node.find(handle);
}

int Peer::poll(std::chrono::milliseconds budget)
{
    const int before = m_impl->handlersRun;
    m_impl->node.poll(Clock::now() + budget, std::size_t(-1));
    return m_impl->handlersRun - before;
}

void Peer::run(std::chrono::milliseconds period, const std::function<void()>& tick)
{
    Impl& d = *m_impl;
    d.stopped = false;
    Clock::time_point next = Clock::now() + period;
    while (!d.stopped) {
        d.node.runUntil([&d] { return d.stopped; }, next);
        if (d.stopped)
            break;
        if (tick)
            tick();
        next += period;
        const Clock::time_point now = Clock::now();
        if (next < now)
            next = now + period; // fell behind: no burst of ticks
    }
}

void Peer::stop()
{
    m_impl->stopped = true;
}

asio::io_context& Peer::ioContext()
{
    return m_impl->node.exposeIo();
}

} // namespace vmsg
