#include "vmsg/Node.h"

#include "protocol/Address.h"
#include "vmsg/Secret.h"

#include <asio/post.hpp>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace vmsg {

using asio::ip::tcp;

namespace {

// The poller's tag of the listening socket; connections are tagged with their handles (from 1).
constexpr std::uint64_t listenerTag = 0;
// Read rounds an Asio handler does before it lets other handlers run.
constexpr int roundsPerTurn = 16;
// A node that had input this recently waits for more in the read of its only connection.
constexpr std::chrono::milliseconds busyFor{50};

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

int millisecondsUntil(Node::Clock::time_point until, Node::Clock::time_point now)
{
    if (until <= now)
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    return int(std::min<long long>(ms, 1000 * 1000));
}

} // namespace

Node::Node(asio::io_context* io, std::size_t maxMessage, Events& events)
    : m_ownIo(io ? nullptr : std::make_unique<asio::io_context>(1)), m_io(io ? *io : *m_ownIo),
      m_work(asio::make_work_guard(m_io)), m_maxMessage(maxMessage), m_events(events),
      m_nextAsio(Clock::now() + ownSlice), m_nextLook(Clock::now()), m_acceptRetry(m_io), m_frameDeadline(m_io)
{
    if (sharedIo())
        armWatch();
}

Node::~Node() // NOLINT(bugprone-exception-escape): asio declares a timer's cancel() as throwing; it cannot fail
{
    m_alive.reset();
    stopListening();
    for (auto& entry : m_handshakes)
        entry.second->cancel();
    for (auto& entry : m_connections) {
        entry.second->close();
        entry.second->closeSocket();
    }
    for (auto& connection : m_lingering)
        connection->closeSocket();
    m_connections.clear();
    m_lingering.clear();
    m_ready.clear();
    m_watch.reset(); // its own descriptor of the poller
}

asio::io_context& Node::exposeIo()
{
    m_exposed = true;
    armWatch();
    return m_io;
}

template <class Handler> void Node::arm(asio::steady_timer& timer, Handler&& handler)
{
    ++m_timers;
    timer.async_wait([this, alive = std::weak_ptr<char>(m_alive),
                      handler = std::forward<Handler>(handler)](const asio::error_code& ec) mutable {
        if (alive.expired())
            return;
        --m_timers;
        handler(ec);
    });
}

void Node::endHandshake(int handle)
{
    const auto it = m_handshakes.find(handle);
    if (it == m_handshakes.end())
        return;
    it->second->cancel();
    m_handshakes.erase(it);
}

bool Node::listen(const std::string& address, int port)
{
    stopListening();
    asio::error_code ec;
    const asio::ip::address ip = address == "localhost" ? asio::ip::address(asio::ip::address_v4::loopback())
                                                        : asio::ip::make_address(address, ec);
    if (ec || port < 0 || port > 65535)
        return false;
    const tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    const int fd = ::socket(endpoint.protocol().family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, endpoint.data(), socklen_t(endpoint.size())) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        !m_poller.watch(fd, listenerTag)) {
        ::close(fd);
        return false;
    }
    m_listener = fd;
    return true;
}

int Node::localPort() const
{
    if (m_listener < 0)
        return 0;
    tcp::endpoint endpoint;
    socklen_t size = socklen_t(endpoint.capacity());
    if (::getsockname(m_listener, endpoint.data(), &size) != 0)
        return 0;
    endpoint.resize(size);
    return endpoint.port();
}

void Node::stopListening()
{
    m_acceptRetry.cancel();
    if (m_listener >= 0) {
        ::close(m_listener);
        m_listener = -1;
    }
}

void Node::acceptAll()
{
    while (m_listener >= 0) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            takeIncoming(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // Out of descriptors and the like: try again a little later instead of spinning.
        m_acceptRetry.expires_after(std::chrono::milliseconds(100));
        arm(m_acceptRetry, [this](const asio::error_code& e) {
            if (!e)
                acceptAll();
        });
        return;
    }
}

std::size_t Node::incomingCount() const
{
    return std::size_t(std::count_if(m_connections.begin(), m_connections.end(),
                                     [](const auto& entry) { return entry.second->incoming; }));
}

bool Node::add(const std::shared_ptr<Connection>& connection)
{
    // Edge-triggered: a report means new input or new room; the connection remembers what is left.
    if (!m_poller.watch(connection->nativeHandle(), std::uint64_t(connection->handle()))) {
        connection->close();
        connection->closeSocket();
        return false;
    }
    m_connections.emplace(connection->handle(), connection);
    return true;
}

void Node::takeIncoming(int fd)
{
    if (incomingCount() >= m_limits.maxIncoming) {
        // Clients whose end is reported but not yet read still count: read them first.
        readRound();
        if (incomingCount() >= m_limits.maxIncoming && !makeRoom()) {
            ::close(fd);
            return;
        }
    }
    const int handle = m_nextHandle++;
    auto connection = std::make_shared<Connection>(fd, handle, m_maxMessage, static_cast<Connection::Events*>(this));
    connection->incoming = true;
    connection->setOutputHold(m_clientOutputHold);
    if (!add(connection))
        return;

    // A client that does not log on in time is closed; it was never reported.
    auto deadline = std::make_shared<asio::steady_timer>(m_io, m_limits.handshakeTimeout);
    m_handshakes.emplace(handle, deadline);
    arm(*deadline, [this, deadline, handle](const asio::error_code& e) {
        if (e)
            return;
        m_handshakes.erase(handle);
        const auto it = m_connections.find(handle);
        if (it != m_connections.end() && !it->second->loggedOn)
            close(handle);
    });
}

bool Node::makeRoom()
{
    // The poller's reports came before the accept (see collect): input that waits unread is not the
    // client's silence.
    const Clock::time_point now = Clock::now();
    std::shared_ptr<Connection> handshaking;
    std::shared_ptr<Connection> idle;
    for (const auto& entry : m_connections) {
        const std::shared_ptr<Connection>& c = entry.second;
        if (!c->incoming || !c->isOpen() || c->wantsRead())
            continue;
        if (!c->loggedOn) {
            if (!handshaking || c->handle() < handshaking->handle())
                handshaking = c; // handles count up: the oldest
        } else if (now - c->lastInput >= m_limits.idleTimeout && (!idle || c->lastInput < idle->lastInput)) {
            idle = c;
        }
    }
    if (handshaking) {
        close(handshaking->handle()); // never reported
        return true;
    }
    if (idle) {
        idle->abort(eventError);
        return true;
    }
    return false;
}

void Node::notePartialFrame(Connection& connection, bool tookFrames)
{
    if (!connection.incoming || !connection.loggedOn || !connection.isOpen())
        return;
    // A paused connection's input waits for this side, not for the client.
    if (connection.isPaused() || connection.inputLeft() == 0) {
        connection.partialSince = Clock::time_point();
        return;
    }
    if (connection.partialSince == Clock::time_point() || tookFrames) {
        connection.partialSince = Clock::now();
        armFrameDeadline(connection.partialSince + m_limits.frameTimeout);
    }
}

void Node::armFrameDeadline(Clock::time_point due)
{
    if (m_frameDeadlineArmed)
        return; // the earlier deadline's check arms the next
    m_frameDeadlineArmed = true;
    m_frameDeadline.expires_at(due);
    arm(m_frameDeadline, [this](const asio::error_code&) {
        m_frameDeadlineArmed = false;
        checkFrameDeadlines();
    });
}

void Node::checkFrameDeadlines()
{
    // What the poller reported and nobody read yet (a long handler, a modal loop) is not the client's delay.
    collect(0);
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    std::vector<std::shared_ptr<Connection>> late;
    for (const auto& entry : m_connections) {
        Connection& c = *entry.second;
        if (c.partialSince == Clock::time_point())
            continue;
        if (c.isPaused() || c.wantsRead() || c.inputLeft() == 0 || !c.isOpen()) {
            c.partialSince = c.isPaused() || c.inputLeft() == 0 ? Clock::time_point() : now;
            if (c.partialSince != Clock::time_point())
                next = std::min(next, now + m_limits.frameTimeout);
            continue;
        }
        if (now - c.partialSince >= m_limits.frameTimeout)
            late.push_back(entry.second);
        else
            next = std::min(next, c.partialSince + m_limits.frameTimeout);
    }
    for (const std::shared_ptr<Connection>& c : late)
        c->abort(eventError);
    if (next != Clock::time_point::max())
        armFrameDeadline(next);
}

int Node::connect(const std::string& host, int port, int service, const Message& values, Clock::time_point deadline)
{
    if (host.empty() || port < 1 || port > 65535)
        return 0;
    const auto portNumber = static_cast<unsigned short>(port);

    // Loopback and numeric addresses need no lookup; other names are looked up off this thread.
    std::vector<tcp::endpoint> endpoints;
    asio::error_code ec;
    if (protocol::isLocalhost(host)) {
        endpoints.emplace_back(asio::ip::address_v4::loopback(), portNumber);
        endpoints.emplace_back(asio::ip::address_v6::loopback(), portNumber);
    } else {
        const asio::ip::address ip = asio::ip::make_address(host, ec);
        if (!ec) {
            endpoints.emplace_back(ip, portNumber);
        } else {
            ++m_nameLookups;
            const std::shared_ptr<Lookup> lookup = startLookup(host, port);
            auto done = [&lookup] {
                const std::lock_guard<std::mutex> lock(lookup->mutex);
                return lookup->done;
            };
            for (;;) {
                if (done()) {
                    const std::lock_guard<std::mutex> lock(lookup->mutex);
                    endpoints = std::move(lookup->endpoints);
                    break;
                }
                const Clock::time_point now = Clock::now();
                if (now >= deadline)
                    return 0;
                runUntil(done, std::min(deadline, now + std::chrono::milliseconds(5)));
            }
        }
    }
    // Every address in turn, within the one deadline.
    for (const tcp::endpoint& endpoint : endpoints) {
        if (Clock::now() >= deadline)
            break;
        if (const int handle = attempt(endpoint, service, values, deadline))
            return handle;
    }
    return 0;
}

int Node::attempt(const tcp::endpoint& endpoint, int service, const Message& values, Clock::time_point deadline)
{
    const int fd = ::socket(endpoint.protocol().family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    if (::connect(fd, endpoint.data(), socklen_t(endpoint.size())) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return 0;
    }
    // The LogOn goes out as soon as the socket is connected (often at once on loopback); a refusal
    // ends the connection as a failed write or read.
    const int handle = m_nextHandle++;
    auto connection = std::make_shared<Connection>(fd, handle, m_maxMessage, static_cast<Connection::Events*>(this));
    connection->service = service;
    if (!add(connection))
        return 0;
    // Service 1 to KelmDesk's own port presents the port secret first.
    const std::string secret = secretFor(endpoint.address().to_string(), endpoint.port(), service);
    Message withSecret;
    if (!secret.empty()) {
        withSecret.push(secret);
        withSecret.values.insert(withSecret.values.end(), values.values.begin(), values.values.end());
    }
    const bool accepted = connection->sendFrame(FrameType::LogOn, service, 0, secret.empty() ? values : withSecret) &&
                          runUntil([&] { return connection->loggedOn || !connection->isOpen(); }, deadline) &&
                          connection->isOpen();
    if (!accepted) {
        connection->close();
        connection->closeSocket();
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
    const auto it = m_connections.find(handle);
    if (it == m_connections.end() || !it->second->isOpen() || !it->second->loggedOn)
        return false;
    // A failing write reports the loss from inside, which takes the connection out of the map.
    const std::shared_ptr<Connection> connection = it->second;
    return connection->sendFrame(type, kind, requestId, values);
}

void Node::close(int handle)
{
    const auto it = m_connections.find(handle);
    if (it == m_connections.end())
        return;
    const std::shared_ptr<Connection> connection = it->second;
    m_connections.erase(it);
    endHandshake(handle);
    connection->close();
    sweepLingering();
    if (!connection->hasSocket())
        return;
    // Output already queued still goes out, while the peer takes it within the linger time.
    m_lingering.push_back(connection);
    auto linger = std::make_shared<asio::steady_timer>(m_io, m_limits.lingerTimeout);
    arm(*linger, [this, linger, connection](const asio::error_code&) {
        connection->closeSocket();
        sweepLingering();
    });
}

void Node::sweepLingering()
{
    m_lingering.erase(std::remove_if(m_lingering.begin(), m_lingering.end(),
                                     [](const std::shared_ptr<Connection>& c) { return !c->hasSocket(); }),
                      m_lingering.end());
}

void Node::setReading(int handle, bool reading)
{
    const auto it = m_connections.find(handle);
    if (it == m_connections.end())
        return;
    it->second->setReading(reading);
    if (reading && it->second->wantsRead()) {
        markReady(it->second);
        kick();
    }
}

void Node::rereadBuffer(int handle)
{
    const auto it = m_connections.find(handle);
    if (it == m_connections.end())
        return;
    it->second->rereadBuffer();
    if (it->second->wantsRead())
        markReady(it->second);
}

void Node::markReady(const std::shared_ptr<Connection>& connection)
{
    if (connection->inReadyList)
        return;
    connection->inReadyList = true;
    m_ready.push_back(connection);
}

bool Node::readRound()
{
    if (m_ready.empty())
        return false;
    if (m_ready.size() == 1) {
        // The usual case needs no list of its own.
        const std::shared_ptr<Connection> connection = std::move(m_ready.back());
        m_ready.pop_back();
        connection->inReadyList = false;
        if (connection->readBurst())
            markReady(connection);
        return true;
    }
    // A handler may read again from inside: the round works on a list of its own.
    std::vector<std::shared_ptr<Connection>> round;
    round.swap(m_ready);
    for (const std::shared_ptr<Connection>& connection : round)
        connection->inReadyList = false;
    for (const std::shared_ptr<Connection>& connection : round) {
        if (connection->readBurst())
            markReady(connection);
    }
    return true;
}

void Node::collect(int timeoutMs)
{
    Poller::Report reports[Poller::batch];
    bool accept = false;
    for (;;) {
        const int n = m_poller.wait(timeoutMs, reports);
        for (int i = 0; i < n; ++i) {
            if (reports[i].tag == listenerTag)
                accept = true;
            else
                dispatch(reports[i]);
        }
        if (n < Poller::batch)
            break;
        timeoutMs = 0;
    }
    // After the other reports, so that a client that has left is known before the cap is applied.
    if (accept)
        acceptAll();
}

void Node::dispatch(const Poller::Report& report)
{
    const int handle = int(report.tag);
    std::shared_ptr<Connection> connection;
    const auto it = m_connections.find(handle);
    if (it != m_connections.end()) {
        connection = it->second;
    } else {
        const auto closing = std::find_if(m_lingering.begin(), m_lingering.end(),
                                          [handle](const auto& c) { return c->handle() == handle; });
        if (closing == m_lingering.end())
            return;
        connection = *closing;
    }
    if (report.writable && connection->writePending()) {
        const bool held = connection->outputHeld();
        connection->writeMore();
        // Reading that waited for the peer to take its output goes on.
        if (held && connection->wantsRead())
            markReady(connection);
    }
    if (!connection->isOpen()) {
        if (!connection->hasSocket())
            sweepLingering();
        return;
    }
    if (report.readable) {
        connection->setReadable(report.ended);
        if (connection->wantsRead())
            markReady(connection);
    }
}

void Node::drainReady()
{
    for (int round = 0; round < roundsPerTurn; ++round) {
        if (!readRound())
            return;
    }
    kick(); // more to read: after the other handlers
}

void Node::kick()
{
    // The node's own loops read ready connections anyway; others need a reminder.
    if (m_kickPosted || !sharedIo())
        return;
    m_kickPosted = true;
    asio::post(m_io, [this, alive = std::weak_ptr<char>(m_alive)] {
        if (alive.expired())
            return;
        m_kickPosted = false;
        drainReady();
        m_events.runPending();
    });
}

void Node::armWatch()
{
    if (m_watchArmed)
        return;
    // Only an io_context that others run watches the poller: each report would cost it a wake-up.
    if (!m_watch)
        m_watch = std::make_unique<asio::posix::stream_descriptor>(m_io, ::dup(m_poller.descriptor()));
    m_watchArmed = true;
    m_watch->async_wait(asio::posix::stream_descriptor::wait_read,
                        [this, alive = std::weak_ptr<char>(m_alive)](const asio::error_code& ec) {
                            if (alive.expired())
                                return;
                            m_watchArmed = false;
                            if (ec)
                                return;
                            collect(0);
                            drainReady();
                            m_events.runPending();
                            armWatch();
                        });
}

bool Node::runUntil(const std::function<bool()>& done, Clock::time_point deadline)
{
    return wait(0, done, deadline);
}

bool Node::awaitOn(int handle, const std::function<bool()>& done, Clock::time_point deadline)
{
    return wait(handle, done, deadline);
}

std::shared_ptr<Connection> Node::waitable(int handle) const
{
    // Output that waits for the socket, and closed connections still sending, need the poller.
    if (!m_lingering.empty())
        return nullptr;
    const auto it = handle                      ? m_connections.find(handle)
                    : m_connections.size() == 1 ? m_connections.begin()
                                                : m_connections.end();
    if (it == m_connections.end())
        return nullptr;
    const std::shared_ptr<Connection>& connection = it->second;
    if (!connection->isOpen() || connection->isPaused() || connection->writePending())
        return nullptr;
    return connection;
}

bool Node::wait(int handle, const std::function<bool()>& done, Clock::time_point deadline)
{
    for (;;) {
        m_events.runPending();
        if (done())
            return true;
        if (readRound())
            continue;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return false;
        if (!m_ownIo) {
            // Everything, this node's poller included, comes through the shared io_context.
            if (m_io.stopped())
                m_io.restart();
            m_io.run_one_until(deadline);
            continue;
        }
        // The own io_context holds only timers and whatever others put there: a look now and then.
        const bool asio = m_exposed || m_timers > 0;
        if (asio && now >= m_nextAsio) {
            runAsio(deadline, std::size_t(-1));
            continue;
        }
        const Clock::time_point until = asio ? std::min(deadline, m_nextAsio) : deadline;
        // One connection to wait for (the asked one, or the only one while it is busy): the wait is its
        // own read, one system call; the poller (new clients, the other connections) gets a look every
        // slice. An idle node waits in the poller, where a new client is taken at once.
        const bool busy = handle != 0 || now - m_lastInput < busyFor;
        const std::shared_ptr<Connection> connection = busy && !m_exposed ? waitable(handle) : nullptr;
        if (connection && until - now >= Connection::waitSlice) {
            if (now >= m_nextLook) {
                m_nextLook = now + Connection::waitSlice;
                collect(0);
            } else if (connection->readWaiting()) {
                markReady(connection);
            }
            continue;
        }
        collect(millisecondsUntil(until, now));
    }
}

std::size_t Node::runAsio(Clock::time_point deadline, std::size_t maxHandlers)
{
    // An own io_context that nobody else has holds nothing but the node's timers.
    if (!sharedIo() && m_timers == 0)
        return 0;
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
    m_nextAsio = Clock::now() + ownSlice;
    return n;
}

std::size_t Node::poll(Clock::time_point deadline, std::size_t maxHandlers)
{
    m_events.runPending();
    collect(0);
    while (readRound()) {
        if (Clock::now() >= deadline)
            break;
    }
    m_events.runPending();
    return runAsio(deadline, maxHandlers);
}

bool Node::admit(Connection& connection, const std::uint8_t* frame)
{
    const FrameHeader header = frameHeader(frame);
    const FrameType expected = connection.incoming ? FrameType::LogOn : FrameType::Accept;
    FrameValues values;
    const std::uint8_t* body = frame + frameHeaderSize;
    if (header.type != expected || !checkValues(body, frame + header.length, values)) {
        connection.abort(eventError);
        return false;
    }
    if (connection.incoming && !m_secret.empty() && !presentsSecret(body, frame + header.length, m_secret)) {
        ++m_refusedLogOns;
        connection.abort(eventError); // never announced: no report
        return false;
    }
    connection.loggedOn = true;
    if (connection.incoming) {
        endHandshake(connection.handle());
        // Accept goes out before anything the owner may send on the log-on report.
        connection.service = header.kind;
        if (!connection.sendFrame(FrameType::Accept, connection.service, 0, Message()))
            return false;
        connection.announced = true;
        m_events.clientLoggedOn(connection);
    }
    return true;
}

void Node::framesArrived(Connection& connection)
{
    m_lastInput = Clock::now();
    connection.lastInput = m_lastInput;
    // The first frame must complete the handshake: LogOn from a client, Accept from a server.
    while (!connection.loggedOn) {
        const std::uint8_t* frame = connection.nextFrame();
        if (!frame || !admit(connection, frame))
            return;
    }
    const std::size_t before = connection.inputLeft();
    m_events.framesArrived(connection);
    notePartialFrame(connection, connection.inputLeft() < before);
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
    endHandshake(handle);
    if (connection.announced)
        m_events.connectionLost(handle, event);
}

} // namespace vmsg
