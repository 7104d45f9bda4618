#pragma once

#include "vmsg/Connection.h"
#include "vmsg/Poller.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace vmsg {

// The connections of one endpoint: listening and accepting clients with the log-on handshake,
// connecting with a bounded handshake, sending frames. What to do with received messages is the
// owner's (Context queues them, Peer hands them over at once).
//
// The sockets sit in a poller of the node's own (Poller), not in Asio's reactor, so that waiting and
// reading cost one system call each: the node's loops block in that poller directly. Asio keeps the
// timers. A shared io_context (tests, or others given it through exposeIo()) also watches the poller,
// so that whoever runs it drives the node too; an owned one that nobody else has is run only while
// it holds timers.
class Node final : private Connection::Events
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
        // A logged-on client that leaves a frame incomplete this long after its first byte is closed.
        std::chrono::milliseconds frameTimeout{10000};
        // At the cap, a new client takes the place of one still in its handshake, else of the
        // logged-on client idle longest once it has sent nothing for this long.
        std::chrono::milliseconds idleTimeout{10000};
    };

    class Events
    {
    public:
        virtual void clientLoggedOn(Connection& connection) = 0;
        // Frames have arrived on a logged-on connection: the receiver takes them with
        // connection.nextFrame() (see Connection::Events), and aborts the connection on anything but
        // Data and Reply frames and on malformed values.
        virtual void framesArrived(Connection& connection) = 0;
        // Only for connections that were reported (a logged-on client or a completed connect). May come
        // from inside a send.
        virtual void connectionLost(int handle, int event) = 0;
        // Called by the node's loops where the owner's handlers may run.
        virtual void runPending() {}

    protected:
        ~Events() = default;
    };

    // io null: the node owns its io_context.
    Node(asio::io_context* io, std::size_t maxMessage, Events& events);
    ~Node(); // NOLINT(bugprone-exception-escape): asio declares a timer's cancel() as throwing; it cannot fail
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    asio::io_context& io() { return m_io; }
    // io() for others to run work on: from now on it watches the node's poller.
    asio::io_context& exposeIo();
    // Others may run the io_context: work for the node can come through it.
    bool sharedIo() const { return !m_ownIo || m_exposed; }
    std::size_t maxMessage() const { return m_maxMessage; }
    // Applies to connections made from now on.
    void setMaxMessage(std::size_t maxMessage) { m_maxMessage = maxMessage; }
    // The handshake deadline and cap apply to connections accepted from now on.
    void setLimits(const Limits& limits) { m_limits = limits; }
    // Clients accepted from now on are not read while more than bytes of output wait for them (0: off).
    void setClientOutputHold(std::size_t bytes) { m_clientOutputHold = bytes; }
    // Host names handed to the system's resolver so far.
    std::size_t nameLookups() const { return m_nameLookups; }
    // Non-empty: a LogOn that does not start with this string is closed unreported (and counted).
    void requireSecret(std::string secret) { m_secret = std::move(secret); }
    // LogOns closed for a missing or wrong secret so far.
    std::size_t refusedLogOns() const { return m_refusedLogOns; }

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
    // The next read round takes the frames that wait in handle's buffer (a nested loop while one of
    // them is handled).
    void rereadBuffer(int handle);

    // Runs network work and handlers until done() holds or the deadline passes; false on timeout.
    bool runUntil(const std::function<bool()>& done, Clock::time_point deadline);
    // The same for an owner that waits for input on one connection (a reply). With an io_context of its
    // own that nobody else runs, a node waits in that socket's read (also in runUntil while its only
    // connection is busy): one system call a wait; the rest is looked at every Connection::waitSlice.
    bool awaitOn(int handle, const std::function<bool()>& done, Clock::time_point deadline);
    // Without blocking: network work until nothing is ready or the deadline passes, then ready Asio
    // handlers, at most maxHandlers of them. Returns how many Asio handlers ran.
    std::size_t poll(Clock::time_point deadline, std::size_t maxHandlers);

    // The steps of poll, for a caller that delivers between reads (Context::scheduler):
    // takes the poller's reports without waiting;
    void collect() { collect(0); }
    // reads each connection that may hold data once; false when none may;
    bool readRound();
    // runs ready Asio handlers (timers, other endpoints on the same io_context).
    std::size_t runAsio(Clock::time_point deadline, std::size_t maxHandlers);

    // An owned io_context is polled at least this often while the node waits in its own poller.
    static constexpr std::chrono::milliseconds ownSlice{20};

private:
    void collect(int timeoutMs);
    // handle 0: any connection.
    bool wait(int handle, const std::function<bool()>& done, Clock::time_point deadline);
    // The connection a wait may block in the read of: handle's, or the only one (handle 0). Null when
    // the poller is needed (output waits for a socket, or the connection is paused).
    std::shared_ptr<Connection> waitable(int handle) const;
    void dispatch(const Poller::Report& report);
    void markReady(const std::shared_ptr<Connection>& connection);
    // Reads ready connections from an Asio handler, a bounded number of rounds at a time.
    void drainReady();
    void kick();
    void armWatch();
    // Starts timer, counted while it runs; handler(ec) is not called once the node is gone.
    template <class Handler> void arm(asio::steady_timer& timer, Handler&& handler);
    void endHandshake(int handle);
    bool add(const std::shared_ptr<Connection>& connection);
    int attempt(const asio::ip::tcp::endpoint& endpoint, int service, const Message& values,
                Clock::time_point deadline);
    void acceptAll();
    void takeIncoming(int fd);
    std::size_t incomingCount() const;
    // At the cap: closes a client in its handshake or one idle too long. False when none may go.
    bool makeRoom();
    // Whether a logged-on incoming connection leaves a partial frame, and since when.
    // tookFrames: frames were taken from the input just now, so a partial one left is a new one.
    void notePartialFrame(Connection& connection, bool tookFrames);
    void armFrameDeadline(Clock::time_point due);
    void checkFrameDeadlines();
    // A first frame that completes the handshake; false when the connection was closed instead.
    bool admit(Connection& connection, const std::uint8_t* frame);
    void sweepLingering();
    void framesArrived(Connection& connection) override;
    void connectionLost(Connection& connection, int event) override;

    std::unique_ptr<asio::io_context> m_ownIo;
    asio::io_context& m_io;
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    std::size_t m_maxMessage;
    Limits m_limits;
    std::size_t m_clientOutputHold = 0;
    std::size_t m_nameLookups = 0;
    std::string m_secret;
    std::size_t m_refusedLogOns = 0;
    Events& m_events;
    Poller m_poller;
    std::unique_ptr<asio::posix::stream_descriptor> m_watch; // the poller, inside a shared io_context
    bool m_watchArmed = false;
    bool m_exposed = false;
    bool m_kickPosted = false;
    std::size_t m_timers = 0;      // started and not yet ended
    Clock::time_point m_nextAsio;  // owned io_context: when it is polled next while waiting
    Clock::time_point m_nextLook;  // a wait in a socket's read: when the poller gets its next look
    Clock::time_point m_lastInput; // when frames last arrived
    int m_listener = -1;
    asio::steady_timer m_acceptRetry;
    asio::steady_timer m_frameDeadline; // the earliest partial frame's, while one is armed
    bool m_frameDeadlineArmed = false;
    std::unordered_map<int, std::shared_ptr<Connection>> m_connections;
    std::vector<std::shared_ptr<Connection>> m_lingering; // closed, still sending their last output
    std::vector<std::shared_ptr<Connection>> m_ready;     // may hold data to read
    // Deadlines of incoming connections that have not logged on yet.
    std::unordered_map<int, std::shared_ptr<asio::steady_timer>> m_handshakes;
    int m_nextHandle = 1;
    // Handlers that outlive the node (shared io_context) check this before touching it.
    std::shared_ptr<char> m_alive = std::make_shared<char>();
};

} // namespace vmsg
