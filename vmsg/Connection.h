#pragma once

#include "vmsg/Frame.h"

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vmsg {

// One framed TCP connection: reads and decodes frames, queues outgoing frames so that everything
// queued in one turn goes out in one write. Reading can be paused, which leaves unread data to
// TCP's flow control.
class Connection : public std::enable_shared_from_this<Connection>
{
public:
    class Events
    {
    public:
        // message.handle is set. The receiver may close or pause the connection from here.
        virtual void frameReceived(Connection& connection, FrameType type, Message& message, std::size_t frameSize) = 0;
        // The connection failed or the other end closed it; never after close().
        virtual void connectionLost(Connection& connection, int event) = 0;

    protected:
        ~Events() = default;
    };

    Connection(asio::ip::tcp::socket socket, int handle, std::size_t maxMessage, Events* events);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void start();
    // Queues one frame. False when closed, when the frame exceeds the bound, or when the output
    // queue would pass maxQueuedOutput().
    bool sendFrame(FrameType type, int kind, std::uint32_t requestId, const Message& values);
    // Closes without reporting to Events; output already queued is still sent first, for at most
    // linger: then the socket is closed for good.
    void close(std::chrono::milliseconds linger = std::chrono::seconds(2));
    // Closes and reports event (eventError for a protocol violation found by the owner).
    void abort(int event);
    void setReading(bool reading);

    bool isOpen() const { return m_open; }
    // For waiting on the socket itself: a read is outstanding / output waits for the socket.
    bool readPending() const { return m_readPending; }
    bool writePending() const { return !m_outFlight.empty(); }
    int nativeHandle() { return int(m_socket.native_handle()); }
    int handle() const { return m_handle; }
    std::size_t queuedBytes() const { return m_outQueue.size() + m_outFlight.size(); }
    std::size_t maxQueuedOutput() const { return 16 * m_maxMessage; }

    // Owner's bookkeeping of the log-on handshake.
    bool incoming = false;
    bool loggedOn = false;
    bool announced = false; // the owner reported this connection (log-on or connect succeeded)
    int service = 0;

private:
    void readMore();
    void closeSocket();
    void processInput();
    void writeMore();

    asio::ip::tcp::socket m_socket;
    const int m_handle;
    const std::size_t m_maxMessage;
    Events* m_events;
    asio::steady_timer m_linger;
    bool m_open = true;
    bool m_paused = false;
    bool m_readPending = false;
    std::vector<std::uint8_t> m_in;
    std::size_t m_inBegin = 0;
    std::size_t m_inEnd = 0;
    std::vector<std::uint8_t> m_outQueue;
    std::vector<std::uint8_t> m_outFlight;
    Message m_decoded;
};

} // namespace vmsg
