#include "tests/faults/LoadSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

long residentKiB(long pid)
{
    std::ifstream in(pid == 0 ? std::string("/proc/self/status") : "/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

RawClient::~RawClient()
{
    close();
}

void RawClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool RawClient::connectAndLogOn(int port, int service, int receiveBuffer)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd < 0)
        return false;
    if (receiveBuffer > 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    vmsg::Message logOn;
    const char* secret = std::getenv("VMSG_SECRET");
    if (service == 1 && secret && *secret)
        logOn.push(secret);
    return trySend(vmsg::FrameType::LogOn, service, 0, logOn) && finishSend(std::chrono::seconds(5));
}

bool RawClient::trySend(vmsg::FrameType type, int kind, std::uint32_t requestId, const vmsg::Message& values)
{
    if (pendingOutput() && !finishSend(std::chrono::milliseconds(0)))
        return false;
    m_out.clear();
    m_outSent = 0;
    if (!vmsg::encodeFrame(type, kind, requestId, values, vmsg::wallClockNow(), vmsg::defaultMaxMessage, m_out))
        return false;
    // What the socket does not take now waits for the next call.
    finishSend(std::chrono::milliseconds(0));
    return true;
}

bool RawClient::finishSend(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pendingOutput()) {
        const ssize_t n = ::send(m_fd, m_out.data() + m_outSent, m_out.size() - m_outSent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            m_outSent += std::size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, int(std::min<long long>(left.count(), 50)));
    }
    return true;
}

bool RawClient::readFrames(std::chrono::milliseconds timeout,
                           const std::function<void(vmsg::Message&, vmsg::FrameType)>& onFrame)
{
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, int(timeout.count())) <= 0)
        return true;
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0)
            return false;
        if (n < 0)
            break;
        m_in.insert(m_in.end(), buffer, buffer + n);
    }
    std::size_t at = 0;
    for (;;) {
        vmsg::Message message;
        const vmsg::DecodeResult r =
            vmsg::decodeFrame(m_in.data() + at, m_in.size() - at, vmsg::defaultMaxMessage, message);
        if (r.status != vmsg::DecodeStatus::Complete)
            break;
        at += r.frameSize;
        onFrame(message, r.type);
    }
    m_in.erase(m_in.begin(), m_in.begin() + std::ptrdiff_t(at));
    return true;
}
