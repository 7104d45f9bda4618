#include "vmsg/Node.h"

#include <asio/connect.hpp>

#include <algorithm>

namespace vmsg {

using asio::ip::tcp;

Node::Node(asio::io_context* io, std::size_t maxMessage, Events& events)
    : m_ownIo(io ? nullptr : std::make_unique<asio::io_context>(1)), m_io(io ? *io : *m_ownIo),
      m_work(asio::make_work_guard(m_io)), m_maxMessage(maxMessage), m_events(events), m_acceptRetry(m_io)
{
}

Node::~Node()
{
    m_alive.reset();
    stopListening();
    for (auto& entry : m_connections)
        entry.second->close();
    m_connections.clear();
}

bool Node::listen(const std::string& address, int port)
{
    stopListening();
    asio::error_code ec;
    asio::ip::address ip = address == "localhost" ? asio::ip::address(asio::ip::address_v4::loopback())
                                                  : asio::ip::make_address(address, ec);
    if (ec || port < 0 || port > 65535)
        return false;
    auto acceptor = std::make_unique<tcp::acceptor>(m_io);
    const tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    acceptor->open(endpoint.protocol(), ec);
    if (!ec)
        acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        acceptor->bind(endpoint, ec);
    if (!ec)
        acceptor->listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
        return false;
    m_acceptor = std::move(acceptor);
    acceptNext();
    return true;
}

int Node::localPort() const
{
    asio::error_code ec;
    if (!m_acceptor)
        return 0;
    const tcp::endpoint endpoint = m_acceptor->local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

void Node::stopListening()
{
    m_acceptRetry.cancel();
    if (!m_acceptor)
        return;
    asio::error_code ec;
    m_acceptor->close(ec);
    m_acceptor.reset();
    m_acceptPending = false;
}

void Node::acceptNext()
{
    if (!m_acceptor)
        return;
    m_acceptPending = true;
    m_acceptor->async_accept([this, alive = std::weak_ptr<char>(m_alive),
                              acceptor = m_acceptor.get()](const asio::error_code& ec, tcp::socket socket) {
        if (alive.expired() || m_acceptor.get() != acceptor || ec == asio::error::operation_aborted)
            return;
        m_acceptPending = false;
        if (ec) {
            // Out of descriptors and the like: try again a little later instead of spinning.
            m_acceptRetry.expires_after(std::chrono::milliseconds(100));
            m_acceptRetry.async_wait([this, alive](const asio::error_code& e) {
                if (!alive.expired() && !e)
                    acceptNext();
            });
            return;
        }
        const int handle = m_nextHandle++;
        auto connection = std::make_shared<Connection>(std::move(socket), handle, m_maxMessage,
                                                       static_cast<Connection::Events*>(this));
        connection->incoming = true;
        m_connections.emplace(handle, connection);
        connection->start();
        acceptNext();
    });
}

int Node::connect(const std::string& host, int port, int service, const Message& values, Clock::time_point deadline)
{
    if (host.empty() || port < 1 || port > 65535)
        return 0;

    struct Attempt
    {
        explicit Attempt(asio::io_context& io) : resolver(io), socket(io) {}
        tcp::resolver resolver;
        tcp::socket socket;
        bool done = false;
        bool abandoned = false;
        asio::error_code ec;
    };
    auto attempt = std::make_shared<Attempt>(m_io);
    auto connected = [attempt](const asio::error_code& ec, const auto&...) {
        attempt->done = true;
        attempt->ec = ec;
    };

    asio::error_code ec;
    const asio::ip::address ip = asio::ip::make_address(host, ec);
    if (!ec) {
        attempt->socket.async_connect(tcp::endpoint(ip, static_cast<unsigned short>(port)), connected);
    } else {
        attempt->resolver.async_resolve(
            host, std::to_string(port), tcp::resolver::numeric_service,
            [attempt, connected](const asio::error_code& e, const tcp::resolver::results_type& results) {
                if (attempt->abandoned)
                    return;
                if (e)
                    connected(e);
                else
                    asio::async_connect(attempt->socket, results, connected);
            });
    }
    if (!runReactorUntil([&] { return attempt->done; }, deadline)) {
        attempt->abandoned = true;
        attempt->resolver.cancel();
        attempt->socket.close(ec);
        return 0;
    }
    if (attempt->ec)
        return 0;

    const int handle = m_nextHandle++;
    auto connection = std::make_shared<Connection>(std::move(attempt->socket), handle, m_maxMessage,
                                                   static_cast<Connection::Events*>(this));
    connection->service = service;
    m_connections.emplace(handle, connection);
    connection->start();
    const bool accepted = connection->sendFrame(FrameType::LogOn, service, 0, values) &&
                          runUntil([&] { return connection->loggedOn || !connection->isOpen(); }, deadline) &&
                          connection->isOpen();
    if (!accepted) {
        connection->close();
        m_connections.erase(handle);
        return 0;
    }
    connection->announced = true;
    return handle;
}

Connection* Node::find(int handle) const
{
    const auto it = m_connections.find(handle);
    if (it == m_connections.end() || !it->second->isOpen() || !it->second->loggedOn)
        return nullptr;
    return it->second.get();
}

bool Node::send(int handle, FrameType type, int kind, std::uint32_t requestId, const Message& values)
{
    Connection* connection = find(handle);
    return connection && connection->sendFrame(type, kind, requestId, values);
}

void Node::close(int handle)
{
    const auto it = m_connections.find(handle);
    if (it == m_connections.end())
        return;
    const std::shared_ptr<Connection> connection = it->second;
    m_connections.erase(it);
    connection->close();
}

void Node::setReading(int handle, bool reading)
{
    const auto it = m_connections.find(handle);
    if (it != m_connections.end())
        it->second->setReading(reading);
}

bool Node::runUntil(const std::function<bool()>& done, Clock::time_point deadline)
{
    const Clock::duration slice = m_ownIo ? Clock::duration(ownSlice) : Clock::duration(sharedSlice);
    bool stalled = false;
    for (;;) {
        bool ran = false;
        for (;;) {
            if (done())
                return true;
            if (m_io.stopped())
                m_io.restart();
            if (m_io.poll_one() == 0)
                break;
            ran = true;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return false;
        const Clock::time_point until = std::min(deadline, now + slice);
        // A socket that poll() keeps reporting while the reactor has nothing to run would spin.
        if (stalled && !ran)
            m_io.run_one_until(until);
        else
            stalled = waitForSockets(until);
    }
}

bool Node::runReactorUntil(const std::function<bool()>& done, Clock::time_point deadline)
{
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        if (m_io.stopped())
            m_io.restart();
        m_io.run_one_until(deadline);
    }
    return true;
}

bool Node::waitForSockets(Clock::time_point until)
{
#ifdef _WIN32
    m_io.run_one_until(until);
    return false;
#else
    std::vector<pollfd>& fds = m_pollFds;
    fds.clear();
    if (m_acceptor && m_acceptPending)
        fds.push_back({int(m_acceptor->native_handle()), POLLIN, 0});
    for (const auto& entry : m_connections) {
        Connection& connection = *entry.second;
        const short events = short((connection.readPending() ? POLLIN : 0) | (connection.writePending() ? POLLOUT : 0));
        if (events && connection.isOpen())
            fds.push_back({connection.nativeHandle(), events, 0});
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    const int ready = ::poll(fds.data(), nfds_t(fds.size()), int(std::max<long long>(0, left)));
    return ready > 0;
#endif
}

std::size_t Node::poll(Clock::time_point deadline, std::size_t maxHandlers)
{
    std::size_t n = 0;
    while (n < maxHandlers) {
        if (m_io.stopped())
            m_io.restart();
        if (m_io.poll_one() == 0)
            break;
        ++n;
        if (Clock::now() >= deadline)
            break;
    }
    return n;
}

void Node::frameReceived(Connection& connection, FrameType type, Message& message, std::size_t frameSize)
{
    if (!connection.loggedOn) {
        // The first frame must complete the handshake: LogOn from a client, Accept from a server.
        const FrameType expected = connection.incoming ? FrameType::LogOn : FrameType::Accept;
        if (type != expected) {
            connection.abort(eventError);
            return;
        }
        connection.loggedOn = true;
        if (connection.incoming) {
            connection.service = message.kind;
            connection.announced = true;
            connection.sendFrame(FrameType::Accept, message.kind, 0, Message());
            m_events.clientLoggedOn(connection);
        }
        return;
    }
    switch (type) {
    case FrameType::Data:
        m_events.messageReceived(connection, message, frameSize);
        break;
    case FrameType::Reply:
        m_events.replyReceived(connection, message);
        break;
    default:
        connection.abort(eventError);
        break;
    }
}

void Node::connectionLost(Connection& connection, int event)
{
    const int handle = connection.handle();
    const auto it = m_connections.find(handle);
    std::shared_ptr<Connection> keep;
    if (it != m_connections.end()) {
        keep = it->second;
        m_connections.erase(it);
    }
    if (connection.announced)
        m_events.connectionLost(handle, event);
}

} // namespace vmsg
