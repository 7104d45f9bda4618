#pragma once

#include "vmsg/Connection.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#ifndef _WIN32
#include <poll.h>
#endif

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace vmsg {

// The connections of one endpoint on one io_context: listening and accepting clients with the
// log-on handshake, connecting with a bounded handshake, sending frames. What to do with received
// messages is the owner's (Context queues them, Peer hands them over at once).
class Node : private Connection::Events
{
public:
    using Clock = std::chrono::steady_clock;

    struct Limits
    {
        // An incoming connection that has not logged on by then is closed.
        std::chrono::milliseconds handshakeTimeout{5000};
        // Incoming connections beyond this many open ones are closed at once.
        std::size_t maxIncoming = 256;
        // How long a closed connection may still try to send its queued output.
        std::chrono::milliseconds lingerTimeout{2000};
    };

    class Events
    {
    public:
        virtual void clientLoggedOn(Connection& connection) = 0;
        virtual void messageReceived(Connection& connection, Message& message, std::size_t frameSize) = 0;
        virtual void replyReceived(Connection& connection, Message& message) = 0;
        // Only for connections that were reported (a logged-on client or a completed connect).
        virtual void connectionLost(int handle, int event) = 0;

    protected:
        ~Events() = default;
    };

    // io null: the node owns its io_context.
    Node(asio::io_context* io, std::size_t maxMessage, Events& events);
    ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    asio::io_context& io() { return m_io; }
    std::size_t maxMessage() const { return m_maxMessage; }
    // Applies to connections made from now on.
    void setMaxMessage(std::size_t maxMessage) { m_maxMessage = maxMessage; }
    // The handshake deadline and cap apply to connections accepted from now on.
    void setLimits(const Limits& limits) { m_limits = limits; }
    // Host names handed to the system's resolver so far.
    std::size_t nameLookups() const { return m_nameLookups; }

    bool listen(const std::string& address, int port);
    int localPort() const;
    void stopListening();

    // Connects to host:port and logs on as service with values, running the loop until accepted or
    // deadline. Returns the new handle, 0 on any failure.
    int connect(const std::string& host, int port, int service, const Message& values, Clock::time_point deadline);

    // An open, logged-on connection, else null.
    Connection* find(int handle) const;
    bool send(int handle, FrameType type, int kind, std::uint32_t requestId, const Message& values);
    // Closes without reporting.
    void close(int handle);
    void setReading(int handle, bool reading);

    // Runs handlers until done() holds or the deadline passes; false on timeout. Blocks in poll() on
    // this node's own sockets, whose wake-up is much quicker than the reactor's; other work on a
    // shared io_context runs between slices of at most sharedSlice.
    bool runUntil(const std::function<bool()>& done, Clock::time_point deadline);
    // Runs ready handlers until none is ready, the deadline passes or maxHandlers ran. Returns how many ran.
    std::size_t poll(Clock::time_point deadline, std::size_t maxHandlers);

    static constexpr std::chrono::milliseconds ownSlice{20};
    static constexpr std::chrono::milliseconds sharedSlice{1};

private:
    void acceptNext();
    void takeIncoming(asio::ip::tcp::socket socket);
    std::size_t incomingCount() const;
    // Like runUntil, blocking in the reactor (for sockets not yet in m_connections).
    bool runReactorUntil(const std::function<bool()>& done, Clock::time_point deadline);
    // Blocks until one of this node's sockets is ready or until; false when nothing was waited on.
    bool waitForSockets(Clock::time_point until);
    void frameReceived(Connection& connection, FrameType type, Message& message, std::size_t frameSize) override;
    void connectionLost(Connection& connection, int event) override;

    std::unique_ptr<asio::io_context> m_ownIo;
    asio::io_context& m_io;
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    std::size_t m_maxMessage;
    Limits m_limits;
    std::size_t m_nameLookups = 0;
    Events& m_events;
    std::unique_ptr<asio::ip::tcp::acceptor> m_acceptor;
    asio::steady_timer m_acceptRetry;
    std::unordered_map<int, std::shared_ptr<Connection>> m_connections;
    int m_nextHandle = 1;
    bool m_acceptPending = false;
#ifndef _WIN32
    std::vector<pollfd> m_pollFds; // reused by waitForSockets
#endif
    // Handlers that outlive the node (shared io_context) check this before touching it.
    std::shared_ptr<char> m_alive = std::make_shared<char>();
};

} // namespace vmsg
