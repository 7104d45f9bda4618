#include "vmsg/Connection.h"

#include <asio/post.hpp>
#include <asio/write.hpp>

#ifndef _WIN32
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cstring>

namespace vmsg {

namespace {
constexpr std::size_t initialBuffer = 64 * 1024;
constexpr std::size_t readChunk = 64 * 1024;

// A peer that vanishes without closing is noticed after about idle + count * interval seconds of
// silence, or after userTimeout with data unacknowledged.
constexpr int keepAliveIdle = 10;
constexpr int keepAliveInterval = 5;
constexpr int keepAliveCount = 3;
constexpr unsigned userTimeoutMs = 25000;

void setOptions(asio::ip::tcp::socket& socket)
{
    asio::error_code ec;
    socket.set_option(asio::ip::tcp::no_delay(true), ec);
    socket.set_option(asio::socket_base::keep_alive(true), ec);
#ifndef _WIN32
    const int fd = int(socket.native_handle());
#ifdef TCP_KEEPIDLE
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &keepAliveIdle, sizeof keepAliveIdle);
#endif
#ifdef TCP_KEEPINTVL
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &keepAliveInterval, sizeof keepAliveInterval);
#endif
#ifdef TCP_KEEPCNT
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &keepAliveCount, sizeof keepAliveCount);
#endif
#ifdef TCP_USER_TIMEOUT
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
#endif
    (void)fd;
#endif
}

} // namespace

Connection::Connection(asio::ip::tcp::socket socket, int handle, std::size_t maxMessage, Events* events)
    : m_socket(std::move(socket)), m_handle(handle), m_maxMessage(maxMessage), m_events(events),
      m_linger(m_socket.get_executor())
{
    setOptions(m_socket);
    m_in.resize(initialBuffer);
}

Connection::~Connection() = default;

void Connection::start()
{
    readMore();
}

bool Connection::sendFrame(FrameType type, int kind, std::uint32_t requestId, const Message& values)
{
    if (!m_open)
        return false;
    const std::size_t before = m_outQueue.size();
    if (!encodeFrame(type, kind, requestId, values, wallClockNow(), m_maxMessage, m_outQueue))
        return false;
    if (queuedBytes() > maxQueuedOutput()) {
        m_outQueue.resize(before);
        return false;
    }
    if (m_outFlight.empty())
        writeMore();
    return true;
}

void Connection::close(std::chrono::milliseconds linger)
{
    if (!m_open)
        return;
    m_open = false;
    m_events = nullptr;
    // Output already queued still goes out; the write completion closes the socket, or the linger
    // timer when the peer does not read.
    if (m_outFlight.empty()) {
        closeSocket();
        return;
    }
    m_linger.expires_after(linger);
    m_linger.async_wait([self = shared_from_this()](const asio::error_code& ec) {
        if (!ec)
            self->closeSocket();
    });
}

void Connection::abort(int event)
{
    if (!m_open)
        return;
    Events* events = m_events;
    m_open = false;
    m_events = nullptr;
    closeSocket();
    if (events)
        events->connectionLost(*this, event);
}

void Connection::closeSocket()
{
    m_linger.cancel();
    asio::error_code ec;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    m_socket.close(ec);
    m_outQueue.clear();
}

void Connection::setReading(bool reading)
{
    if (reading == !m_paused || !m_open)
        return;
    m_paused = !reading;
    if (!reading)
        return;
    // Continue outside the caller's frame: it may be delivering a message of this connection.
    asio::post(m_socket.get_executor(), [self = shared_from_this()] {
        if (self->m_open && !self->m_paused && !self->m_readPending)
            self->processInput();
    });
}

void Connection::readMore()
{
    if (!m_open || m_paused || m_readPending)
        return;
    if (m_inEnd == m_in.size())
        return; // processInput grows the buffer before reading; a full buffer means a bug upstream
    m_readPending = true;
    const std::size_t room = std::min(m_in.size() - m_inEnd, readChunk);
    m_socket.async_read_some(asio::buffer(m_in.data() + m_inEnd, room),
                             [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
                                 self->m_readPending = false;
                                 if (!self->m_open)
                                     return;
                                 if (ec) {
                                     // A clean end between frames is a close; inside a frame, or any
                                     // other failure, an error.
                                     const bool clean = ec == asio::error::eof && self->m_inBegin == self->m_inEnd;
                                     self->abort(clean ? eventClosed : eventError);
                                     return;
                                 }
                                 self->m_inEnd += n;
                                 self->processInput();
                             });
}

void Connection::processInput()
{
    auto self = shared_from_this();
    std::size_t needed = 0;
    while (m_open && !m_paused) {
        const DecodeResult r = decodeFrame(m_in.data() + m_inBegin, m_inEnd - m_inBegin, m_maxMessage, m_decoded);
        if (r.status == DecodeStatus::Malformed) {
            abort(eventError);
            return;
        }
        if (r.status == DecodeStatus::Incomplete) {
            needed = r.frameSize;
            break;
        }
        m_inBegin += r.frameSize;
        m_decoded.handle = m_handle;
        // The receiver takes the values (or swaps in storage for the next frame to reuse).
        if (m_events)
            m_events->frameReceived(*this, r.type, m_decoded, r.frameSize);
    }
    if (!m_open || m_paused)
        return;

    // Keep the partial frame at the start, and make room for all of it (bounded by the decoder).
    if (m_inBegin > 0) {
        std::memmove(m_in.data(), m_in.data() + m_inBegin, m_inEnd - m_inBegin);
        m_inEnd -= m_inBegin;
        m_inBegin = 0;
    }
    std::size_t want = std::max(needed, m_inEnd + 1);
    if (want > m_in.size())
        m_in.resize(std::max(want, std::min(2 * m_in.size(), std::max(m_maxMessage, readChunk))));
    else if (m_inEnd == 0 && m_in.size() > readChunk)
        std::vector<std::uint8_t>(initialBuffer).swap(m_in); // give back a large frame's buffer
    readMore();
}

void Connection::writeMore()
{
    if (m_outQueue.empty() || !m_socket.is_open())
        return;
    m_outFlight.swap(m_outQueue);
    asio::async_write(m_socket, asio::buffer(m_outFlight),
                      [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                          self->m_outFlight.clear();
                          if (ec) {
                              if (self->m_open)
                                  self->abort(eventError);
                              else
                                  self->closeSocket();
                              return;
                          }
                          if (!self->m_outQueue.empty())
                              self->writeMore();
                          else if (!self->m_open)
                              self->closeSocket();
                      });
}

} // namespace vmsg
