#include "vmsg/Connection.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vmsg {

namespace {
constexpr std::size_t initialBuffer = 64 * 1024;

const timeval receiveTimeout{0, std::chrono::microseconds(Connection::waitSlice).count()};

// A peer that vanishes without closing is noticed after about idle + count * interval seconds of
// silence, or after userTimeout with data unacknowledged.
constexpr int keepAliveIdle = 10;
constexpr int keepAliveInterval = 5;
constexpr int keepAliveCount = 3;
constexpr unsigned userTimeoutMs = 25000;

void setOptions(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
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
}

int releaseSocket(asio::ip::tcp::socket& socket)
{
    asio::error_code ec;
    const int fd = socket.is_open() ? int(socket.release(ec)) : -1;
    return ec ? -1 : fd;
}

} // namespace

Connection::Connection(asio::ip::tcp::socket socket, int handle, std::size_t maxMessage, Events* events)
    : m_fd(releaseSocket(socket)), m_handle(handle), m_maxMessage(maxMessage), m_events(events)
{
    if (m_fd >= 0)
        setOptions(m_fd);
    m_in.resize(initialBuffer);
}

Connection::Connection(int fd, int handle, std::size_t maxMessage, Events* events)
    : m_fd(fd), m_handle(handle), m_maxMessage(maxMessage), m_events(events)
{
    setOptions(m_fd);
    m_in.resize(initialBuffer);
}

Connection::~Connection()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Connection::sendFrame(FrameType type, int kind, std::uint32_t requestId, const Message& values)
{
    if (!m_open)
        return false;
    // Sent bytes in front of the queue go once they are the larger part.
    if (m_outSent > 0 && m_outSent >= m_out.size() / 2) {
        m_out.erase(m_out.begin(), m_out.begin() + std::ptrdiff_t(m_outSent));
        m_outSent = 0;
    }
    const std::size_t before = m_out.size();
    if (!encodeFrame(type, kind, requestId, values, wallClockNow(), m_maxMessage, m_out))
        return false;
    if (queuedBytes() > maxQueuedOutput()) {
        m_out.resize(before);
        return false;
    }
    // Output that waits for the socket goes out with the next writable report, in order.
    if (before == m_outSent) {
        auto self = shared_from_this();
        writeMore();
    }
    return m_open;
}

void Connection::writeMore()
{
    while (m_fd >= 0 && m_outSent < m_out.size()) {
        const std::size_t left = m_out.size() - m_outSent;
        const ssize_t n = ::send(m_fd, m_out.data() + m_outSent, left, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            m_outSent += std::size_t(n);
            if (std::size_t(n) < left)
                return; // the socket is full: the poller reports when it takes more
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (m_open)
            abort(eventError);
        else
            closeSocket();
        return;
    }
    if (m_outSent == m_out.size()) {
        m_out.clear();
        m_outSent = 0;
        if (!m_open)
            closeSocket(); // the last output of a closed connection is out
    }
}

void Connection::close()
{
    if (!m_open)
        return;
    m_open = false;
    m_events = nullptr;
    // Output already queued still goes out; the last write closes the socket.
    if (!writePending())
        closeSocket();
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
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        m_fd = -1;
    }
    m_out.clear();
    m_outSent = 0;
}

void Connection::setReading(bool reading)
{
    if (m_open)
        m_paused = !reading;
}

void Connection::dropHeldInput()
{
    std::vector<std::uint8_t>().swap(m_heldInput);
}

void Connection::leaveHeldInput()
{
    std::vector<std::uint8_t> copy(m_in.size());
    std::memcpy(copy.data(), m_in.data() + m_inBegin, m_inEnd - m_inBegin);
    if (m_zeroed && m_inBegin == m_heldEnd)
        copy[0] = m_heldByte;
    m_inEnd -= m_inBegin;
    m_inBegin = 0;
    m_heldInput.swap(m_in);
    m_in.swap(copy);
}

bool Connection::readBurst()
{
    return read(MSG_DONTWAIT);
}

bool Connection::readWaiting()
{
    if (!m_blocking && m_fd >= 0) {
        // Every other call says that it must not wait (MSG_DONTWAIT).
        m_blocking = ::fcntl(m_fd, F_SETFL, 0) == 0 &&
                     ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &receiveTimeout, sizeof receiveTimeout) == 0;
    }
    return read(m_blocking ? 0 : MSG_DONTWAIT);
}

bool Connection::read(int flags)
{
    if (!m_open || m_paused || outputHeld())
        return false;
    auto self = shared_from_this();
    if (m_holding && m_heldInput.empty())
        leaveHeldInput();
    if (m_buffered) {
        m_buffered = false;
        processFrames();
        return wantsRead();
    }
    // The buffer's last byte is never read into: a frame that ends a read still has a byte behind it
    // for its final text's zero (holdInput).
    const std::size_t room = m_in.size() - 1 - m_inEnd;
    const ssize_t n = ::recv(m_fd, m_in.data() + m_inEnd, room, flags);
    if (n > 0) {
        m_inEnd += std::size_t(n);
        // A read that did not fill the buffer took all the socket held: the poller reports more. An end
        // the poller reported already comes with no further report.
        if (std::size_t(n) < room && !m_ended)
            m_readable = false;
        processFrames();
        return wantsRead();
    }
    if (n < 0 && errno == EINTR)
        return true;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        m_readable = false; // or the wait's slice is over
        return false;
    }
    // A clean end between frames is a close; inside a frame, or any other failure, an error.
    abort(n == 0 && m_inBegin == m_inEnd ? eventClosed : eventError);
    return false;
}

void Connection::processFrames()
{
    m_needed = 0;
    if (m_events)
        m_events->framesArrived(*this);
    if (!m_open)
        return;
    if (m_paused || outputHeld()) {
        // What is left waits for setReading(true); an empty buffer starts over.
        m_buffered = m_inBegin < m_inEnd;
        if (!m_buffered)
            m_inBegin = m_inEnd = 0;
        return;
    }

    // Keep the partial frame at the start, and make room for all of it (bounded by the decoder).
    if (m_inBegin > 0) {
        std::memmove(m_in.data(), m_in.data() + m_inBegin, m_inEnd - m_inBegin);
        m_inEnd -= m_inBegin;
        m_inBegin = 0;
    }
    const std::size_t want = std::max(m_needed, m_inEnd + 1) + 1; // and the spare byte behind
    if (want > m_in.size())
        m_in.resize(std::max(want, std::min(2 * m_in.size(), std::max(m_maxMessage, initialBuffer) + 1)));
    else if (m_inEnd == 0 && m_in.size() > initialBuffer)
        std::vector<std::uint8_t>(initialBuffer).swap(m_in); // give back a large frame's buffer
}

} // namespace vmsg
