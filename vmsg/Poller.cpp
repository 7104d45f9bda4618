#include "vmsg/Poller.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vmsg {

Poller::Poller() : m_fd(::epoll_create1(EPOLL_CLOEXEC))
{
    if (m_fd < 0)
        throw std::system_error(errno, std::generic_category(), "epoll_create1");
}

Poller::~Poller()
{
    ::close(m_fd);
}

bool Poller::watch(int fd, std::uint64_t tag)
{
    epoll_event event{};
    event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    event.data.u64 = tag;
    return ::epoll_ctl(m_fd, EPOLL_CTL_ADD, fd, &event) == 0;
}

int Poller::wait(int timeoutMs, Report* reports)
{
    epoll_event events[batch];
    int n = ::epoll_wait(m_fd, events, batch, timeoutMs);
    if (n < 0)
        n = 0; // interrupted: the caller's loop comes back
    for (int i = 0; i < n; ++i) {
        const std::uint32_t e = events[i].events;
        const bool ended = (e & (EPOLLRDHUP | EPOLLERR | EPOLLHUP)) != 0;
        reports[i] =
            Report{events[i].data.u64, ended || (e & EPOLLIN) != 0, (e & (EPOLLOUT | EPOLLERR | EPOLLHUP)) != 0, ended};
    }
    return n;
}

} // namespace vmsg
