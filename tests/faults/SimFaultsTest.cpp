#include "protocol/KernelKind.h"
#include "tests/common/ChildProcess.h"
#include "tests/common/TimeScale.h"
#include "tests/e2e/SimProcess.h"
#include "tests/faults/LoadSupport.h"

#include "vmsg/Peer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <limits>
#include <csignal>

namespace {

using namespace std::chrono_literals;

constexpr int kernelService = protocol::kernelService;
constexpr int statusKind = KernelKind::Status;
constexpr int blockTypesKind = KernelKind::BlockTypes;

vmsg::Message blockTypesRequest()
{
    vmsg::Message m;
    m.push("$top");
    return m;
}

// norvexsim as a real process whose standard error goes where the test says (a file, or a FIFO that
// nobody reads), so that its log cannot be read by the test as it comes.
class SimFaults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        port = freePortBase(1);
        ASSERT_NE(port, 0);
    }

    void TearDown() override
    {
        if (sim.state() != QProcess::NotRunning) {
            sim.kill();
            sim.waitForFinished(10000);
        }
        if (m_fifo >= 0)
            ::close(m_fifo);
    }

    void start(const QString& errorFile, const QStringList& arguments = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NORVEX_PORT_BASE"), QString::number(port));
        sim.setProcessEnvironment(env);
        sim.setStandardErrorFile(errorFile);
        sim.setStandardOutputFile(QProcess::nullDevice());
        endWithTest(sim);
        sim.start(QStringLiteral(NORVEXSIM_PATH), arguments);
        ASSERT_TRUE(sim.waitForStarted(scaledMs(10000)));
        // The log cannot tell when it listens: a log-on can.
        vmsg::Peer probe;
        int h = 0;
        ASSERT_TRUE(waitFor([&] { return (h = probe.connect("127.0.0.1", port, scaled(1s), kernelService)) != 0; }))
            << "the simulator does not answer";
        probe.close(h);
        probe.flush(h, 1s);
    }

    // A FIFO for standard error, held open here for reading (so that the simulator's open does not
    // wait) and never read unless the test says so.
    QString unreadPipe()
    {
        QString path = m_dir.filePath(QStringLiteral("stderr.fifo"));
        EXPECT_EQ(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
        m_fifo = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
        EXPECT_GE(m_fifo, 0);
        return path;
    }

    QByteArray drainPipe()
    {
        QByteArray all;
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(m_fifo, buffer, sizeof buffer)) > 0)
            all.append(buffer, int(n));
        return all;
    }

    // One client that asks count requests, window of them at a time, and reads every reply; the
    // number of replies that came within timeout. sent: the requests written.
    int flood(int count, std::chrono::milliseconds timeout, int* sentOut = nullptr, int window = 64)
    {
        RawClient client;
        if (!client.connectAndLogOn(port, kernelService))
            return -1;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int sent = 0;
        int answered = 0;
        bool open = true;
        while (answered < count && open && std::chrono::steady_clock::now() < deadline) {
            while (sent < count && sent - answered < window) {
                if (!client.trySend(vmsg::FrameType::Data, statusKind, std::uint32_t(sent + 1), vmsg::Message()))
                    break;
                ++sent;
            }
            client.finishSend(0ms);
            open = client.readFrames(client.pendingOutput() ? 1ms : 20ms, [&](vmsg::Message&, vmsg::FrameType type) {
                if (type == vmsg::FrameType::Reply)
                    ++answered;
            });
        }
        // What is still under way is answered before the client leaves, so that nothing is cut off.
        const auto drainUntil = std::chrono::steady_clock::now() + 10s;
        while ((answered < sent || client.pendingOutput()) && open && std::chrono::steady_clock::now() < drainUntil) {
            client.finishSend(0ms);
            open = client.readFrames(5ms, [&](vmsg::Message&, vmsg::FrameType type) {
                if (type == vmsg::FrameType::Reply)
                    ++answered;
            });
        }
        if (sentOut)
            *sentOut = sent;
        return answered;
    }

    QTemporaryDir m_dir;
    int port = 0;
    QProcess sim;

private:
    int m_fifo = -1;
};

} // namespace

// Standard error on a pipe nobody reads used to stop the simulator after a few hundred lines: every
// request, and a second client's log-on, then went unanswered.
TEST_F(SimFaults, AFullStandardErrorPipeHoldsUpNothing)
{
    start(unreadPipe());
    const int frames = loadCount(5000, 2000);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(flood(frames, scaled(30s)), frames);
    const qint64 floodMs = t.elapsed();

    vmsg::Peer second;
    t.restart();
    const int h = second.connect("127.0.0.1", port, scaled(2s), kernelService);
    ASSERT_NE(h, 0) << "a second client's log-on goes unanswered";
    EXPECT_NE(second.request(h, statusKind, vmsg::Message(), scaled(2s)), nullptr);
    const qint64 secondMs = t.elapsed();
    std::printf("[ figures ] %d requests answered in %lld ms with stderr full; second log-on and request %lld ms\n",
                frames, static_cast<long long>(floodMs), static_cast<long long>(secondMs));

    // Once someone reads again, the log goes on, with the count of what it left out (which the
    // simulator's next tick may already have written before this first read).
    QByteArray log = drainPipe();
    EXPECT_TRUE(log.startsWith("norvexsim: instance 0 listening on 127.0.0.1:")) << log.left(200).constData();
    EXPECT_LE(log.size(), 1024 * 1024);
    ASSERT_TRUE(waitFor(
        [&] {
            log += drainPipe();
            return log.contains(" lines left out");
        },
        10000));
}

// A 10 s flood used to write hundreds of megabytes of log. Now the log holds at most its rate, and
// every event is either logged or counted as left out.
TEST_F(SimFaults, AFloodIsLoggedAtABoundedRateWithTheCountLeftOut)
{
    const QString path = m_dir.filePath(QStringLiteral("norvexsim.log"));
    start(path);
    const auto floodFor = std::chrono::milliseconds(loadCount(5000, 2000));
    QElapsedTimer t;
    t.start();
    int sent = 0;
    const int answered = flood(std::numeric_limits<int>::max(), floodFor, &sent);
    const double seconds = t.elapsed() / 1000.0;
    ASSERT_GT(answered, 1000);

    QString log;
    qint64 requestLines = 0;
    qint64 clientLines = 0;
    qint64 leftOut = 0;
    const QRegularExpression counted(QStringLiteral("^norvexsim: \\.\\.\\. (\\d+) lines? left out$"),
                                     QRegularExpression::MultilineOption);
    auto readLog = [&] {
        QFile f(path);
        log = f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        requestLines = log.count(QStringLiteral("norvexsim: request kind 32 "));
        leftOut = 0;
        for (auto it = counted.globalMatch(log); it.hasNext();)
            leftOut += it.next().captured(1).toLongLong();
        clientLines = log.count(QStringLiteral(" logged on\n")) + log.count(QStringLiteral(" left\n")) +
                      log.count(QStringLiteral(" lost (error)\n"));
        return requestLines + clientLines + leftOut;
    };
    // Events: the probe's log-on and leave, the flood client's log-on, requests and leave. What is
    // left out is counted with a later tick of the simulator: wait for the count, then stop it.
    EXPECT_TRUE(waitFor([&] { return readLog() >= sent + 4; }, 10000)) << log.right(500).toStdString();
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(scaledMs(10000)));

    EXPECT_EQ(readLog(), sent + 4) << log.right(500).toStdString();
    const qint64 bytes = QFileInfo(path).size();
    ASSERT_TRUE(log.endsWith(QStringLiteral("norvexsim: stopped\n"))) << log.right(300).toStdString();
    // Two channels of 100 lines a second after a burst of 200 each, and the start and end lines.
    const double maxLines = 2 * (200 + 100 * (seconds + 0.5)) + 2;
    EXPECT_LT(requestLines + clientLines, maxLines);
    EXPECT_LT(bytes, qint64(maxLines * 300)) << "lines are at most about 300 bytes";
    std::printf("[ figures ] %.1f s flood: %d requests, log %lld bytes (%lld request lines, %lld left out)\n", seconds,
                answered, static_cast<long long>(bytes), static_cast<long long>(requestLines),
                static_cast<long long>(leftOut));
}

// A client that asks and never takes its replies used to be read on and on, its replies computed and
// dropped. Now the simulator stops reading it once a frame bound of output waits, and answers every
// request it took once the client reads.
TEST_F(SimFaults, AClientThatTakesNoRepliesIsNotReadUntilItDoes)
{
    start(QProcess::nullDevice());
    const long rssBefore = residentKiB(sim.processId());
    RawClient greedy;
    ASSERT_TRUE(greedy.connectAndLogOn(port, kernelService, 4096));
    const vmsg::Message request = blockTypesRequest();
    std::uint32_t sent = 0;
    // Writes until the socket has taken nothing for a second: the simulator has stopped reading.
    QElapsedTimer total;
    total.start();
    const qint64 limitMs = scaledMs(40000);
    while (total.elapsed() < limitMs) {
        if (greedy.trySend(vmsg::FrameType::Data, blockTypesKind, sent + 1, request))
            ++sent;
        else if (!greedy.finishSend(scaled(1000ms)))
            break;
    }
    ASSERT_LT(total.elapsed(), limitMs) << "the simulator read on: " << sent << " requests";
    const long rssHeld = residentKiB(sim.processId());

    // Another client is served meanwhile.
    vmsg::Peer other;
    QElapsedTimer t;
    t.start();
    const int h = other.connect("127.0.0.1", port, scaled(2s), kernelService);
    ASSERT_NE(h, 0);
    EXPECT_NE(other.request(h, statusKind, vmsg::Message(), scaled(2s)), nullptr);
    const qint64 otherMs = t.elapsed();

    // Every request the socket took gets its reply, in order, once the client reads.
    std::uint32_t replies = 0;
    bool inOrder = true;
    QElapsedTimer reading;
    reading.start();
    while ((replies < sent || greedy.pendingOutput()) && reading.elapsed() < scaledMs(30000)) {
        greedy.finishSend(0ms);
        ASSERT_TRUE(greedy.readFrames(greedy.pendingOutput() ? 1ms : 50ms, [&](vmsg::Message& m, vmsg::FrameType type) {
            if (type != vmsg::FrameType::Reply)
                return;
            ++replies;
            inOrder = inOrder && m.requestId == replies;
        }));
    }
    EXPECT_EQ(replies, sent);
    EXPECT_TRUE(inOrder);
    EXPECT_LT(otherMs, scaledMs(1000));
    // The sanitizer's shadow and quarantine of freed memory count in its resident size.
    EXPECT_LT(rssHeld - rssBefore, loadCount(16, 128) * 1024) << "KiB held for one client that does not read";
    std::printf("[ figures ] stopped reading after %u requests (%.1f s); simulator memory +%ld KiB; another client "
                "served in %lld ms; all %u replies in order after reading\n",
                sent, total.elapsed() / 1000.0, rssHeld - rssBefore, static_cast<long long>(otherMs), replies);
}
