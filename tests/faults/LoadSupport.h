#pragma once

#include "vmsg/Frame.h"
#include "vmsg/Message.h"

#include <QtGlobal>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Counts for the load tests: the normal figure, or the smaller one under the sanitizers
// (KELMDESK_SANITIZED=1), where everything runs several times slower.
inline int loadCount(int normal, int sanitized)
{
    return qEnvironmentVariableIntValue("KELMDESK_SANITIZED") == 1 ? sanitized : normal;
}

// Resident memory of process pid in KiB (0: self), from /proc; -1 when unreadable.
long residentKiB(long pid = 0);

// A client speaking the wire format on a plain socket, so that a test decides when it reads: the
// peer's side sees a client that does not take its replies.
class RawClient
{
public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // Connects to 127.0.0.1:port with a small receive buffer (receiveBuffer bytes, 0: the system's)
    // and sends LogOn for service (with the port secret from the environment for service 1). Does
    // not wait for the answer.
    bool connectAndLogOn(int port, int service, int receiveBuffer = 0);
    // Takes one frame without blocking: the socket gets what it takes now, the rest goes first with the
    // next call. False, taking nothing, while the rest of the last frame cannot go out.
    bool trySend(vmsg::FrameType type, int kind, std::uint32_t requestId, const vmsg::Message& values);
    // Writes what trySend left over, waiting up to timeout. False when it could not.
    bool finishSend(std::chrono::milliseconds timeout);
    bool pendingOutput() const { return m_outSent < m_out.size(); }
    // Reads what arrives within timeout and hands on each complete frame; false when the connection
    // ended.
    bool readFrames(std::chrono::milliseconds timeout,
                    const std::function<void(vmsg::Message&, vmsg::FrameType)>& onFrame);
    void close();

private:
    int m_fd = -1;
    std::vector<std::uint8_t> m_out;
    std::size_t m_outSent = 0;
    std::vector<std::uint8_t> m_in;
};
