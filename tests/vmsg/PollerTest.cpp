// The message port's own poller: edge-triggered reports of input, room and ends, in batches, and a
// descriptor that shows waiting reports to a reactor that watches the poller.

#include "vmsg/Poller.h"
#include "tests/common/TimeScale.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <vector>

using namespace std::chrono;
using vmsg::Poller;

namespace {

// A connected pair of non-blocking stream sockets, closed at the end.
struct Pair
{
    Pair()
    {
        int fds[2] = {-1, -1};
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        near = fds[0];
        far = fds[1];
    }
    ~Pair()
    {
        closeNear();
        closeFar();
    }
    Pair(const Pair&) = delete;
    Pair& operator=(const Pair&) = delete;
    void closeNear()
    {
        if (near >= 0)
            ::close(near);
        near = -1;
    }
    void closeFar()
    {
        if (far >= 0)
            ::close(far);
        far = -1;
    }
    int near = -1;
    int far = -1;
};

// Every report that waits now, by tag (a tag reported twice fails the test).
std::map<std::uint64_t, Poller::Report> take(Poller& poller)
{
    std::map<std::uint64_t, Poller::Report> taken;
    Poller::Report reports[Poller::batch];
    for (;;) {
        const int n = poller.wait(0, reports);
        for (int i = 0; i < n; ++i)
            EXPECT_TRUE(taken.emplace(reports[i].tag, reports[i]).second) << "tag " << reports[i].tag;
        if (n < Poller::batch)
            return taken;
    }
}

void send(int fd, const char* text = "x")
{
    ASSERT_GT(::send(fd, text, std::strlen(text), MSG_NOSIGNAL), 0);
}

std::size_t drain(int fd)
{
    std::size_t total = 0;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return total;
        total += std::size_t(n);
    }
}

TEST(Poller, ReportsNewInputOnceUnderItsTagAndAgainOnlyWhenMoreComes)
{
    Poller poller;
    Pair pair;
    ASSERT_TRUE(poller.watch(pair.near, 7));
    // A fresh socket has room: one report of that, no input.
    auto taken = take(poller);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_TRUE(taken[7].writable);
    EXPECT_FALSE(taken[7].readable);
    EXPECT_FALSE(taken[7].ended);
    EXPECT_TRUE(take(poller).empty());

    send(pair.far, "first");
    taken = take(poller);
    ASSERT_EQ(taken.count(7), 1u);
    EXPECT_TRUE(taken[7].readable);
    EXPECT_FALSE(taken[7].ended);
    // Unread input is not reported again: the reader remembers it.
    EXPECT_TRUE(take(poller).empty());
    send(pair.far, "second");
    taken = take(poller);
    ASSERT_EQ(taken.count(7), 1u);
    EXPECT_TRUE(taken[7].readable);
    EXPECT_EQ(drain(pair.near), std::strlen("firstsecond"));
    EXPECT_TRUE(take(poller).empty());
}

TEST(Poller, ReportsRoomAgainOnceAFullSocketIsTakenFromAndTheEndWhenThePeerClosesItsHalf)
{
    Poller poller;
    Pair pair;
    ASSERT_TRUE(poller.watch(pair.near, 3));
    take(poller);
    std::vector<char> block(65536, 'y');
    while (::send(pair.near, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
    }
    EXPECT_TRUE(take(poller).empty()) << "a full socket has no room to report";
    EXPECT_GT(drain(pair.far), 0u);
    auto taken = take(poller);
    ASSERT_EQ(taken.count(3), 1u);
    EXPECT_TRUE(taken[3].writable);
    EXPECT_FALSE(taken[3].ended);

    // The peer closes its half: the end is reported without a hang-up.
    ASSERT_EQ(::shutdown(pair.far, SHUT_WR), 0);
    taken = take(poller);
    ASSERT_EQ(taken.count(3), 1u);
    EXPECT_TRUE(taken[3].ended);
    EXPECT_TRUE(taken[3].readable) << "the end is read as input";
}

TEST(Poller, AClosedDescriptorIsWatchedNoLongerAndADescriptorIsWatchedOnce)
{
    Poller poller;
    Pair watched, other;
    ASSERT_TRUE(poller.watch(watched.near, 1));
    EXPECT_FALSE(poller.watch(watched.near, 2)) << "watched already";
    EXPECT_FALSE(poller.watch(-1, 3));
    ASSERT_TRUE(poller.watch(other.near, 4));
    take(poller);

    // A connection's socket is closed and its number taken by the next one: reports come under the new
    // tag only.
    const int number = watched.near;
    watched.closeNear();
    Pair next;
    ASSERT_EQ(next.near, number);
    ASSERT_TRUE(poller.watch(next.near, 2));
    send(next.far);
    send(other.far);
    const auto taken = take(poller);
    EXPECT_EQ(taken.count(1), 0u);
    ASSERT_EQ(taken.count(2), 1u);
    EXPECT_TRUE(taken.at(2).readable);
    EXPECT_EQ(taken.count(4), 1u);
}

TEST(Poller, MoreReportsThanABatchComeInFullBatchesAndEachOnce)
{
    Poller poller;
    constexpr int sockets = Poller::batch + Poller::batch / 2;
    std::vector<Pair> pairs(sockets);
    for (int i = 0; i < sockets; ++i)
        ASSERT_TRUE(poller.watch(pairs[std::size_t(i)].near, std::uint64_t(100 + i)));
    take(poller);
    for (Pair& pair : pairs)
        send(pair.far);

    Poller::Report reports[Poller::batch];
    std::set<std::uint64_t> tags;
    EXPECT_EQ(poller.wait(0, reports), Poller::batch);
    for (const Poller::Report& report : reports) {
        EXPECT_TRUE(report.readable);
        tags.insert(report.tag);
    }
    EXPECT_EQ(poller.wait(0, reports), sockets - Poller::batch);
    for (int i = 0; i < sockets - Poller::batch; ++i)
        tags.insert(reports[i].tag);
    EXPECT_EQ(tags.size(), std::size_t(sockets));
    EXPECT_EQ(*tags.begin(), 100u);
    EXPECT_EQ(*tags.rbegin(), std::uint64_t(100 + sockets - 1));
}

TEST(Poller, AWaitEndsWithTheFirstReportOrAtItsTimeout)
{
    Poller poller;
    Pair pair;
    ASSERT_TRUE(poller.watch(pair.near, 5));
    take(poller);
    Poller::Report reports[Poller::batch];

    auto start = steady_clock::now();
    EXPECT_EQ(poller.wait(0, reports), 0);
    EXPECT_EQ(poller.wait(100, reports), 0);
    const auto idle = steady_clock::now() - start;
    EXPECT_GE(idle, milliseconds(99));
    EXPECT_LT(idle, scaled(seconds(5)));

    send(pair.far);
    start = steady_clock::now();
    ASSERT_EQ(poller.wait(10 * 1000, reports), 1);
    EXPECT_LT(steady_clock::now() - start, scaled(seconds(5)));
    EXPECT_EQ(reports[0].tag, 5u);
}

TEST(Poller, ItsDescriptorIsReadableExactlyWhileReportsWait)
{
    Poller poller;
    Pair pair;
    ASSERT_TRUE(poller.watch(pair.near, 9));
    take(poller);
    auto readable = [&poller] {
        pollfd p{poller.descriptor(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    };
    EXPECT_FALSE(readable());
    send(pair.far);
    EXPECT_TRUE(readable());
    EXPECT_EQ(take(poller).size(), 1u);
    EXPECT_FALSE(readable());
}

} // namespace
