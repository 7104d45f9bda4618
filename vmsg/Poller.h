#pragma once

#include <cstdint>

namespace vmsg {

// The message port's own readiness poller: one epoll set, edge-triggered, so that a wait is one
// system call and a socket is reported only when something new happened to it (input came, room to
// write came, the peer closed). Whoever reads a reported socket must remember what is left in it.
class Poller
{
public:
    struct Report
    {
        std::uint64_t tag; // as given to watch()
        bool readable;     // new input, or the end of input or a failure (ended)
        bool writable;     // room to write, or a failure
        bool ended;        // the peer closed (its half or all) or the socket failed
    };
    // Reports one wait hands over at most; fewer means that no more were waiting.
    static constexpr int batch = 64;

    Poller(); // throws std::system_error
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    // Watches fd for input and room, its reports carrying tag. Closing fd ends the watch. False when
    // fd is not open or is watched already.
    bool watch(int fd, std::uint64_t tag);
    // Waits up to timeoutMs (0: not at all) for reports and puts up to batch of them into reports;
    // returns how many (0 on timeout).
    int wait(int timeoutMs, Report* reports);
    // Readable while reports wait: for a reactor that watches the poller itself.
    int descriptor() const { return m_fd; }

private:
    int m_fd;
};

} // namespace vmsg
