#pragma once

// A small message-port endpoint for the programs on the other side of KelmDesk's port: the kernel
// simulator (listens, answers requests, sends status) and the runner (connects to VMSG_ADDRESS).
//
// Everything runs on the calling thread inside poll(), run(), connect(), request() and flush().
// Handlers are called from there, one at a time and in arrival order, never nested: while a handler
// waits (request, flush, connect), later messages and events stay queued until it returns.

#include "protocol/Address.h"
#include "vmsg/Message.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace asio {
class io_context;
}

namespace vmsg {

class Peer
{
public:
    // message.handle, .kind, .requestId (non-zero: the sender waits for reply()), .timeStamp and the
    // values. The message may be moved from to answer it later.
    using MessageHandler = std::function<void(Message& message)>;
    // event: eventLoggedOn for an accepted client, eventClosed or eventError for a lost connection
    // (never for a connection closed by close()).
    using ConnectionHandler = std::function<void(int handle, int event)>;

    explicit Peer(std::size_t maxMessage = defaultMaxMessage);
    // Shares io with other endpoints, so that one thread can drive both ends (tests, benchmarks).
    explicit Peer(asio::io_context& io, std::size_t maxMessage = defaultMaxMessage);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    void setMessageHandler(MessageHandler handler);
    void setConnectionHandler(ConnectionHandler handler);

    // Listens on address (numeric, e.g. "127.0.0.1") and port (0: ephemeral). False when it cannot.
    bool listen(const std::string& address, int port);
    int localPort() const; // 0 when not listening
    void stopListening();

    // Connects and logs on as service, running the loop until the other end accepts or timeout.
    // Returns the handle, 0 on failure (host does not resolve, refused, no acceptance in time).
    int connect(const std::string& host, int port, std::chrono::milliseconds timeout = std::chrono::seconds(2),
                int service = 1);
    // hostPort: "host:port", e.g. the value of VMSG_ADDRESS.
    int connect(const std::string& hostPort, std::chrono::milliseconds timeout = std::chrono::seconds(2),
                int service = 1);

    // Queue values (their time stamp if set, else the wall clock) as an unasked message of kind.
    // False when the handle is not open, the frame exceeds the bound, or the handle's output queue
    // is full (see queuedBytes, flush).
    bool send(int handle, int kind, const Message& values);
    // Answers request (same handle, kind and request id) with values.
    bool reply(const Message& request, const Message& values);
    // Sends a request and runs the loop until its reply, the loss of the connection, or timeout.
    // Other messages are handled meanwhile. Null when no reply came.
    std::unique_ptr<Message> request(int handle, int kind, const Message& values, std::chrono::milliseconds timeout);

    // Closes handle; output already queued is still sent, for at most 2 s. Destroying the Peer drops unsent output:
    // flush() first where it matters.
    void close(int handle);
    bool isOpen(int handle) const;
    // Bytes queued for handle and not yet taken by the socket.
    std::size_t queuedBytes(int handle) const;
    // Runs the loop until handle's output queue is empty. False on timeout or a lost connection.
    bool flush(int handle, std::chrono::milliseconds timeout);

    // Runs ready work for at most budget; returns the number of handlers that ran.
    int poll(std::chrono::milliseconds budget = std::chrono::milliseconds(4));
    // Runs the loop, calling tick every period, until stop() (from a handler or tick).
    void run(std::chrono::milliseconds period, const std::function<void()>& tick);
    void stop();

    asio::io_context& ioContext();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace vmsg
