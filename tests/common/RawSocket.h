#pragma once

// A bare TCP client on loopback for tests that play a hostile peer: it sends whatever bytes it is
// told, and watches whether the server closes it.

#include "vmsg/Frame.h"
#include "vmsg/Message.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class RawSocket
{
public:
    // step runs between looks while the socket waits (the event loop of a server in the same thread).
    explicit RawSocket(std::function<void()> step = {}) : m_step(std::move(step)) {}
    ~RawSocket() { close(); }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    bool connect(int port)
    {
        close();
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return m_fd >= 0 && ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool isOpen() const { return m_fd >= 0; }

    bool send(const void* data, std::size_t size)
    {
        return m_fd >= 0 && ::send(m_fd, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
    }
    bool send(const std::vector<std::uint8_t>& bytes) { return send(bytes.data(), bytes.size()); }
    bool send(const std::string& bytes) { return send(bytes.data(), bytes.size()); }
    // The end of the sending side, as a peer that dies in the middle of a frame.
    void shutdownSending() { ::shutdown(m_fd, SHUT_WR); }

    static std::vector<std::uint8_t> frame(vmsg::FrameType type, int kind, const vmsg::Message& values = {})
    {
        std::vector<std::uint8_t> bytes;
        vmsg::encodeFrame(type, kind, 0, values, 0, vmsg::defaultMaxMessage, bytes);
        return bytes;
    }

    // Sends a LogOn of service 1 with values and waits up to timeout for the Accept.
    bool logOn(const vmsg::Message& values, std::chrono::milliseconds timeout)
    {
        if (!send(frame(vmsg::FrameType::LogOn, 1, values)))
            return false;
        std::vector<std::uint8_t> accept;
        return receive(accept, vmsg::frameHeaderSize, timeout) && accept[3] == std::uint8_t(vmsg::FrameType::Accept);
    }

    // Reads exactly size bytes within timeout.
    bool receive(std::vector<std::uint8_t>& bytes, std::size_t size, std::chrono::milliseconds timeout)
    {
        bytes.resize(size);
        std::size_t got = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got < size) {
            if (!readable(deadline))
                return false;
            const ssize_t n = ::recv(m_fd, bytes.data() + got, size - got, 0);
            if (n <= 0)
                return false;
            got += std::size_t(n);
        }
        return true;
    }

    // True once the server has closed the connection (end of input or reset), within timeout; what
    // it sent before is skipped, and counted in skipped.
    bool closedWithin(std::chrono::milliseconds timeout, std::size_t* skipped = nullptr)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        char buffer[4096];
        while (std::chrono::steady_clock::now() < deadline) {
            if (!readable(deadline))
                continue;
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0 && skipped)
                *skipped += std::size_t(n);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                return true;
        }
        return false;
    }

    // Without waiting: true once the server has closed the connection (skips what it sent).
    bool closedNow()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                continue;
            return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
        }
    }

private:
    bool readable(std::chrono::steady_clock::time_point deadline)
    {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            if (m_step)
                m_step();
            pollfd p{m_fd, POLLIN, 0};
            const int r = ::poll(&p, 1, m_step ? std::min(10, int(left.count())) : int(left.count()));
            if (r > 0)
                return true;
            if (r < 0 && errno != EINTR)
                return false;
        }
    }

    std::function<void()> m_step;
    int m_fd = -1;
};
