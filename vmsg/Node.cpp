#include "vmsg/Node.h"

#include <asio/connect.hpp>

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace vmsg {

using asio::ip::tcp;

namespace {

bool isLocalhost(const std::string& host)
{
    static const char name[] = "localhost";
    if (host.size() != sizeof name - 1)
        return false;
    for (std::size_t i = 0; i < host.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(host[i])) != name[i])
            return false;
    }
    return true;
}

// One name lookup on a thread of its own, so that a lookup that hangs holds up nothing else: the
// caller stops waiting at its deadline and the thread ends whenever the system returns.
struct Lookup
{
    std::mutex mutex;
    bool done = false;
    std::vector<tcp::endpoint> endpoints;
};

std::shared_ptr<Lookup> startLookup(const std::string& host, int port)
{
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, port] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_NUMERICSERV;
            addrinfo* list = nullptr;
            std::vector<tcp::endpoint> endpoints;
            if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) == 0) {
                for (const addrinfo* a = list; a; a = a->ai_next) {
                    if (a->ai_family != AF_INET && a->ai_family != AF_INET6)
                        continue;
                    tcp::endpoint endpoint;
                    if (a->ai_addrlen > endpoint.capacity())
                        continue;
                    std::memcpy(endpoint.data(), a->ai_addr, a->ai_addrlen);
                    endpoint.resize(a->ai_addrlen);
                    endpoints.push_back(endpoint);
                }
                ::freeaddrinfo(list);
            }
            const std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->endpoints = std::move(endpoints);
            lookup->done = true;
        }).detach();
    } catch (const std::system_error&) {
        const std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->done = true;
    }
    return lookup;
}

} // namespace

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
        entry.second->close(m_limits.lingerTimeout);
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
        takeIncoming(std::move(socket));
        acceptNext();
    });
}

std::size_t Node::incomingCount() const
{
    return std::size_t(std::count_if(m_connections.begin(), m_connections.end(),
                                     [](const auto& entry) { return entry.second->incoming; }));
}

void Node::takeIncoming(tcp::socket socket)
{
    asio::error_code ec;
    if (incomingCount() >= m_limits.maxIncoming) {
        socket.close(ec);
        return;
    }
    const int handle = m_nextHandle++;
    auto connection =
        std::make_shared<Connection>(std::move(socket), handle, m_maxMessage, static_cast<Connection::Events*>(this));
    connection->incoming = true;
    m_connections.emplace(handle, connection);
    connection->start();

    // A client that does not log on in time is closed; it was never reported.
    auto deadline = std::make_shared<asio::steady_timer>(m_io, m_limits.handshakeTimeout);
    deadline->async_wait([this, alive = std::weak_ptr<char>(m_alive), deadline,
                          weak = std::weak_ptr<Connection>(connection)](const asio::error_code& e) {
        const std::shared_ptr<Connection> c = weak.lock();
        if (e || alive.expired() || !c || c->loggedOn)
            return;
        const auto it = m_connections.find(c->handle());
        if (it != m_connections.end() && it->second == c)
            close(c->handle());
    });
}

int Node::connect(const std::string& host, int port, int service, const Message& values, Clock::time_point deadline)
{
    if (host.empty() || port < 1 || port > 65535)
        return 0;

    struct Attempt
    {
        explicit Attempt(asio::io_context& io) : socket(io) {}
        tcp::socket socket;
        bool done = false;
        asio::error_code ec;
    };
    auto attempt = std::make_shared<Attempt>(m_io);
    const auto portNumber = static_cast<unsigned short>(port);

    // Loopback and numeric addresses need no lookup; other names are looked up off this thread.
    std::vector<tcp::endpoint> endpoints;
    asio::error_code ec;
    if (isLocalhost(host)) {
        endpoints.emplace_back(asio::ip::address_v4::loopback(), portNumber);
        endpoints.emplace_back(asio::ip::address_v6::loopback(), portNumber);
    } else {
        const asio::ip::address ip = asio::ip::make_address(host, ec);
        if (!ec) {
            endpoints.emplace_back(ip, portNumber);
        } else {
            ++m_nameLookups;
            const std::shared_ptr<Lookup> lookup = startLookup(host, port);
            for (;;) {
                {
                    const std::lock_guard<std::mutex> lock(lookup->mutex);
                    if (lookup->done) {
                        endpoints = std::move(lookup->endpoints);
                        break;
                    }
                }
                const Clock::time_point now = Clock::now();
                if (now >= deadline)
                    return 0;
                runReactorUntil([] { return false; }, std::min(deadline, now + std::chrono::milliseconds(5)));
            }
        }
    }
    if (endpoints.empty())
        return 0;

    asio::async_connect(attempt->socket, endpoints, [attempt](const asio::error_code& e, const tcp::endpoint&) {
        attempt->done = true;
        attempt->ec = e;
    });
    if (!runReactorUntil([&] { return attempt->done; }, deadline)) {
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
        connection->close(std::chrono::milliseconds(0));
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
    connection->close(m_limits.lingerTimeout);
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
