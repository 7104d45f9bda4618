// The real kelm against the real norvexsim, reporting to a scripted KelmDesk: a message port that
// listens on loopback and whose address the runner gets in VMSG_ADDRESS.

#include "protocol/ClientMessageKind.h"
#include "tests/common/ChildProcess.h"
#include "tests/common/TimeScale.h"
#include "tests/e2e/SimProcess.h"
#include "vmsg/Message.h"
#include "vmsg/Peer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>

namespace {

using namespace std::chrono_literals;
using Values = std::vector<vmsg::Value>;

struct Received
{
    int kind = 0;
    Values values;
    double time = 0.0;
};

class FakeDesk
{
public:
    FakeDesk()
    {
        m_peer.setMessageHandler([this](vmsg::Message& m) { got.push_back(Received{m.kind, m.values, m.timeStamp}); });
        m_peer.setConnectionHandler([this](int handle, int event) {
            if (event == vmsg::eventLoggedOn) {
                client = handle;
                ++connections;
            } else {
                clientLeft = true;
                ++ended;
            }
        });
        listening = m_peer.listen("127.0.0.1", 0);
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_peer.localPort()); }
    void pump() { m_peer.poll(5ms); }
    bool has(int kind) const
    {
        return std::any_of(got.begin(), got.end(), [kind](const Received& r) { return r.kind == kind; });
    }
    void send(int kind) { m_peer.send(client, kind, vmsg::Message()); }
    void hangUp()
    {
        m_peer.close(client);
        ++ended;
    }
    // Every runner's connection has ended: all it sent has been handled (a loss comes after them).
    bool allEnded() const { return ended == connections; }

    std::vector<int> kinds() const
    {
        std::vector<int> out;
        for (const Received& r : got)
            out.push_back(r.kind);
        return out;
    }

    std::vector<Received> got;
    int client = 0;
    bool clientLeft = false;
    int connections = 0; // logged on
    int ended = 0;       // lost, or closed by hangUp()
    bool listening = false;

private:
    vmsg::Peer m_peer;
};

class RunnerProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(desk.listening);
        base = freePortBase(1);
        ASSERT_NE(base, 0);
    }

    void TearDown() override
    {
        if (runner.state() != QProcess::NotRunning) {
            runner.kill();
            runner.waitForFinished(5000);
        }
    }

    QString write(const QString& name, const QByteArray& text)
    {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return dir.filePath(name);
    }

    void startSim(const QStringList& arguments = {"--state", "paused", "--speed", "50"})
    {
        sim = std::make_unique<SimProcess>(base, arguments);
        ASSERT_TRUE(sim->waitUntilListening()) << sim->log().toStdString();
    }

    void startRunner(const QStringList& arguments, bool withDesk = true)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NORVEX_PORT_BASE"), QString::number(base));
        env.remove(QStringLiteral("VMSG_ADDRESS"));
        if (withDesk)
            env.insert(QStringLiteral("VMSG_ADDRESS"), desk.address());
        runner.setProcessEnvironment(env);
        endWithTest(runner);
        runner.start(QStringLiteral(KELM_PATH), arguments);
        ASSERT_TRUE(runner.waitForStarted(scaledMs(10000)));
    }

    void startRun(const QString& path)
    {
        startRunner({"-npstatus", "-host", "localhost", "-instance", "norvex:0", path});
    }

    // Exit status once the runner has ended and the desk has had all it sent; -1 when that has not
    // come within timeoutMs.
    int finish(int timeoutMs = 30000)
    {
        const bool ended = waitFor(
            [&] {
                desk.pump();
                return runner.state() == QProcess::NotRunning && desk.allEnded();
            },
            timeoutMs);
        if (!ended)
            return -1;
        return runner.exitStatus() == QProcess::NormalExit ? runner.exitCode() : -2;
    }

    bool deskGets(int kind)
    {
        return waitFor([&] {
            desk.pump();
            return desk.has(kind);
        });
    }

    // A tag's value read from the simulator by a client of our own.
    double readTag(const std::string& name)
    {
        vmsg::Peer probe;
        const int handle = probe.connect("127.0.0.1", base, scaled(5s));
        EXPECT_GT(handle, 0);
        vmsg::Message m;
        m.push(name);
        std::unique_ptr<vmsg::Message> reply = probe.request(handle, 50, m, scaled(5s));
        if (!reply || reply->values.size() != 3)
            return -999;
        if (const auto* d = std::get_if<double>(&reply->values[2]))
            return *d;
        if (const auto* i = std::get_if<std::int32_t>(&reply->values[2]))
            return *i;
        return -999;
    }

    QTemporaryDir dir;
    FakeDesk desk;
    int base = 0;
    std::unique_ptr<SimProcess> sim;
    QProcess runner;
};

const QString examples = QStringLiteral(KELM_EXAMPLES);

std::vector<std::string> fileLines(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    std::vector<std::string> lines;
    for (const QByteArray& line : f.readAll().split('\n'))
        lines.push_back(line.toStdString());
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

} // namespace

TEST_F(RunnerProcessTest, ParseSendsExactlyOneDiagnosticAndExitsByTheOutcome)
{
    struct Case
    {
        QString path;
        int line;
        std::string text;
        int exit;
    };
    const QString missing = dir.filePath("missing.kelm");
    const QString binary = write("binary.kelm", QByteArray("after (1) stop\n\0\0\xff", 18));
    const std::vector<Case> cases = {
        {examples + "/tank.kelm", -1, "tank.kelm: 6 statements, no errors.", 0},
        {examples + "/ramp.kelm", -1, "ramp.kelm: 4 statements, no errors.", 0},
        {examples + "/broken.kelm", 4, "broken.kelm, line 4: Operation keyword not recognized. (2 faulty lines in all)",
         1},
        {missing, -1, "Cannot read missing.kelm: No such file or directory.", 2},
        {binary, -1, "Cannot read binary.kelm: it is not a text file.", 2},
        {QString(), -1, "Cannot read the program: no file name was given.", 2},
    };
    for (const Case& c : cases) {
        desk.got.clear();
        startRunner({"-parse", "-npstatus", c.path});
        EXPECT_EQ(finish(), c.exit) << c.text;
        ASSERT_EQ(desk.got.size(), 1u) << c.text;
        EXPECT_EQ(desk.got[0].kind, 201);
        EXPECT_EQ(desk.got[0].values, (Values{QDir::cleanPath(c.path).toStdString(), c.line, c.text}));
    }
}

TEST_F(RunnerProcessTest, ParseOfAHugeLineEndsQuicklyWithOneDiagnostic)
{
    QByteArray text = "after (0) stop\nwhen (";
    text += QByteArray(1 << 20, '(');
    text += "1) stop\n";
    QElapsedTimer timer;
    timer.start();
    startRunner({"-parse", "-npstatus", write("huge.kelm", text)});
    EXPECT_EQ(finish(), 1);
    EXPECT_LT(timer.elapsed(), scaledMs(10000));
    ASSERT_EQ(desk.got.size(), 1u);
    EXPECT_EQ(desk.got[0].values.at(1), vmsg::Value(2));
    EXPECT_LT(std::get<std::string>(desk.got[0].values.at(2)).size(), 300u);
}

TEST_F(RunnerProcessTest, TankProgramClosesTheInletValveInTheSimulator)
{
    startSim();
    const QString path = examples + "/tank.kelm";
    startRun(path);
    // The monitor's opening names the runner's process, by which KelmDesk can end it.
    const int pid = static_cast<int>(runner.processId());
    ASSERT_EQ(finish(60000), 0);

    const std::vector<std::string> lines = fileLines(path);
    ASSERT_EQ(lines.size(), 13u);
    // The live states of the lines come between the other messages; they are looked at below.
    std::vector<Received> got;
    std::vector<Received> live;
    std::vector<int> kinds;
    for (const Received& r : desk.got) {
        (r.kind >= ClientMessageKind::LiveClock && r.kind <= ClientMessageKind::LiveNotFired ? live : got).push_back(r);
        if (r.kind < ClientMessageKind::LiveClock)
            kinds.push_back(r.kind);
    }
    std::vector<int> expectedKinds = {515, 505};
    expectedKinds.insert(expectedKinds.end(), lines.size(), 506);
    expectedKinds.insert(expectedKinds.end(), {507, 512});
    for (int i = 0; i < 6; ++i)
        expectedKinds.insert(expectedKinds.end(), {508, 205, 510, 511});
    expectedKinds.insert(expectedKinds.end(), {205, 513});
    ASSERT_EQ(kinds, expectedKinds);

    EXPECT_EQ(got[0].values, Values{pid});
    EXPECT_EQ(got[1].values, Values{std::string("tank.kelm")});
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(got[2 + i].values, (Values{int(i + 1), lines[i]}));
    const std::size_t started = 2 + lines.size() + 1;
    const std::vector<std::pair<int, std::string>> firings = {
        {4, "send(ModelRun)\n"},  {5, "{LC101:OP} = 10\n"}, {6, "{FV101:POS} = 100\n"},
        {9, "{FV101:POS} = 0\n"}, {10, "{P101:RUN} = 0\n"}, {13, "stop\n"},
    };
    for (std::size_t k = 0; k < firings.size(); ++k) {
        const std::size_t at = started + 1 + 4 * k;
        EXPECT_EQ(got[at].values, Values{firings[k].first});
        EXPECT_EQ(got[at + 1].values, Values{firings[k].second});
        EXPECT_EQ(got[at + 2].values, (Values{firings[k].first, 3}));
        EXPECT_TRUE(got[at + 3].values.empty());
    }
    EXPECT_EQ(got[got.size() - 2].values, Values{std::string("6 of 6 statements fired.\n")});

    // Live: line 9 waits on the rising level and is false until it fires with 0; each firing that
    // wrote a value reports it.
    std::vector<double> levels;
    std::map<int, double> written;
    for (const Received& r : live) {
        if (r.kind == ClientMessageKind::LiveWhen) {
            EXPECT_EQ(r.values.at(1), vmsg::Value(0)) << "a condition that holds fires at once";
            EXPECT_EQ(r.values.at(2),
                      vmsg::Value(std::string(r.values.at(0) == vmsg::Value(13) ? "P101:RUN" : "T101:LEVEL")));
            if (r.values.at(0) == vmsg::Value(9))
                levels.push_back(std::get<double>(r.values.at(3)));
        } else if (r.kind == ClientMessageKind::LiveWritten) {
            written[std::get<int>(r.values.at(0))] = std::get<double>(r.values.at(1));
        }
        EXPECT_NE(r.kind, ClientMessageKind::LiveNotFired);
    }
    ASSERT_GE(levels.size(), 3u);
    EXPECT_TRUE(std::is_sorted(levels.begin(), levels.end()));
    EXPECT_LT(levels.front(), levels.back());
    EXPECT_EQ(written, (std::map<int, double>{{5, 10}, {6, 100}, {9, 0}, {10, 0}}));

    // Stamped with the kernel's simulation time: 0 up to the start (the kernel was paused there),
    // then rising with the level, never the wall clock.
    for (std::size_t i = 0; i <= started + 4; ++i)
        EXPECT_EQ(got[i].time, 0.0) << i;
    const double closedAt = got[started + 1 + 4 * 3].time;
    EXPECT_GT(closedAt, 10.0);
    EXPECT_LT(closedAt, 1000.0);
    for (std::size_t i = started + 1; i < desk.got.size(); ++i)
        EXPECT_GE(desk.got[i].time, desk.got[i - 1].time) << i;

    EXPECT_EQ(readTag("FV101:POS"), 0.0);
    EXPECT_EQ(readTag("P101:RUN"), 0.0);
    EXPECT_GT(readTag("T101:LEVEL"), 3.0);
    EXPECT_TRUE(sim->waitForLog(QStringLiteral("client 1 left")));
}

// A kernel that sends the long status layout: the runner reads its time from it, so a timed
// statement falls due, fires, and is stamped with that time.
TEST_F(RunnerProcessTest, AKernelWithTheLongStatusLayoutDrivesTheProgramsClock)
{
    startSim({"--status-layout", "long", "--speed", "50"});
    startRun(write("clock.kelm", "after (20) {FEED1:TEMP} = 31\n"));
    ASSERT_EQ(finish(), 0);
    const auto stamp = std::find_if(desk.got.begin(), desk.got.end(), [](const Received& r) { return r.kind == 510; });
    ASSERT_NE(stamp, desk.got.end()) << "the statement fired";
    EXPECT_GE(stamp->time, 20.0) << "stamped with the kernel's time, at least t0 + 20";
    EXPECT_EQ(readTag("FEED1:TEMP"), 31.0);
}

TEST_F(RunnerProcessTest, StopRequestFinishesTheRun)
{
    startSim();
    startRun(write("long.kelm", "after (0) send(ModelRun)\nafter (100000) stop\n"));
    ASSERT_TRUE(deskGets(511));
    desk.send(514);
    ASSERT_EQ(finish(), 0);
    ASSERT_GE(desk.got.size(), 4u);
    EXPECT_EQ(desk.got[desk.got.size() - 4].values, Values{std::string("Stopped by request\n")});
    EXPECT_EQ(desk.got[desk.got.size() - 3].values, Values{2});
    EXPECT_EQ(desk.got[desk.got.size() - 2].values,
              Values{std::string("1 of 2 statements fired. Never fired: line 2.\n")});
    EXPECT_EQ(desk.got.back().kind, 513);
}

// KelmDesk sends Stop as soon as the monitor opens. The listing is larger than what the runner's
// queue and both socket buffers hold, so the runner cannot finish it before KelmDesk has read the
// open, and with it sent the Stop: the Stop has arrived before execution starts.
TEST_F(RunnerProcessTest, AStopThatArrivesBeforeTheStartEndsTheRunBeforeAnythingFires)
{
    startSim();
    QByteArray text = "after (0) {FV101:POS} = 20\nafter (0) send(ModelRun)\n";
    const QByteArray filler = "* " + QByteArray(998, 'x') + "\n";
    for (int i = 0; i < 40000; ++i)
        text += filler;
    startRun(write("big.kelm", text));
    ASSERT_TRUE(deskGets(515));
    desk.send(514);
    ASSERT_EQ(finish(), 0);
    std::vector<int> afterStart;
    const auto started =
        std::find_if(desk.got.begin(), desk.got.end(), [](const Received& r) { return r.kind == 512; });
    ASSERT_NE(started, desk.got.end());
    for (auto it = std::next(started); it != desk.got.end(); ++it)
        afterStart.push_back(it->kind);
    EXPECT_EQ(afterStart, (std::vector<int>{205, 525, 205, 513}));
    EXPECT_EQ(desk.got[desk.got.size() - 4].values, Values{std::string("Stopped by request\n")});
    EXPECT_EQ(desk.got[desk.got.size() - 3].values, (Values{1, 2}));
    EXPECT_EQ(readTag("FV101:POS"), 50.0); // as the simulator starts
}

TEST_F(RunnerProcessTest, AKernelKilledMidRunEndsWithoutExecutionFinished)
{
    startSim();
    startRun(write("wait.kelm", "after (0) send(ModelRun)\nwhen ({T101:LEVEL} > 100) stop\n"));
    ASSERT_TRUE(deskGets(511));
    sim->kill();
    EXPECT_EQ(finish(), 3);
    EXPECT_FALSE(desk.has(513));
    ASSERT_EQ(desk.got.back().kind, 205);
    const std::string text = std::get<std::string>(desk.got.back().values.at(0));
    EXPECT_EQ(text.rfind("Lost the connection to the kernel: ", 0), 0u) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_TRUE(desk.clientLeft);
}

TEST_F(RunnerProcessTest, AKernelThatIsNotThereIsAConsoleLineAndAQuickExit)
{
    QElapsedTimer timer;
    timer.start();
    startRun(write("alone.kelm", "after (0) stop\n"));
    EXPECT_EQ(finish(), 3);
    EXPECT_LT(timer.elapsed(), scaledMs(8000));
    EXPECT_EQ(desk.kinds(), (std::vector<int>{515, 505, 506, 507, 205}));
    EXPECT_EQ(desk.got.back().values,
              Values{"Cannot log on to the kernel norvex:0 on localhost (port " + std::to_string(base) + ").\n"});
}

TEST_F(RunnerProcessTest, KelmDeskGoingAwayEndsTheRunner)
{
    startSim();
    startRun(write("long.kelm", "after (0) send(ModelRun)\nafter (100000) stop\n"));
    ASSERT_TRUE(deskGets(511));
    desk.hangUp();
    EXPECT_EQ(finish(10000), 4);
    EXPECT_TRUE(sim->waitForLog(QStringLiteral("client 1 left")));
}

TEST_F(RunnerProcessTest, HugeAndFaultyLinesAreListedCutAndReportedWhileTheRestRuns)
{
    startSim();
    QByteArray text = "after (0) {FV101:POS} = 20\nafter (0) {FV101:POS} = ";
    text += QByteArray(1 << 20, '7');
    text += "\nafter (0) {NOPE:X} = 1\n";
    startRun(write("huge.kelm", text));
    ASSERT_EQ(finish(), 0);
    const auto listed = std::find_if(desk.got.begin(), desk.got.end(), [](const Received& r) {
        return r.kind == 506 && r.values.at(0) == vmsg::Value(2);
    });
    ASSERT_NE(listed, desk.got.end());
    const std::string shown = std::get<std::string>(listed->values.at(1));
    EXPECT_LE(shown.size(), 4003u);
    EXPECT_EQ(shown.substr(shown.size() - 3), "...");

    std::vector<std::string> console;
    for (const Received& r : desk.got) {
        if (r.kind == 205)
            console.push_back(std::get<std::string>(r.values.at(0)));
    }
    EXPECT_EQ(console,
              (std::vector<std::string>{"Line 2: Value: Number out of range at column 1.\n",
                                        "Line 3: unknown tag {NOPE:X}: no such variable\n", "{FV101:POS} = 20\n",
                                        "1 of 3 statements fired. Never fired: lines 2, 3.\n"}));
    EXPECT_EQ(readTag("FV101:POS"), 20.0);
}

TEST_F(RunnerProcessTest, WithoutKelmDeskItReportsOnStandardOutput)
{
    startSim();
    startRunner({"-host", "localhost", "-instance", "norvex:0", write("out.kelm", "after (0) {FV101:POS} = 20\n")},
                false);
    ASSERT_EQ(finish(), 0);
    const QString out = QString::fromUtf8(runner.readAllStandardOutput());
    EXPECT_TRUE(out.contains("[00:00:00] --- Started execution ---\n[00:00:00] Kernel: paused\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("[00:00:00] Line 1: after (0) {FV101:POS} = 20\n[00:00:00] {FV101:POS} = 20\n"))
        << out.toStdString();
    EXPECT_TRUE(out.contains("--- Finished normally ---")) << out.toStdString();
    EXPECT_TRUE(desk.got.empty());

    QProcess help;
    help.start(QStringLiteral(KELM_PATH), {"--help"});
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().startsWith("usage: kelm -parse"));
    help.start(QStringLiteral(KELM_PATH), {"-fast", "x.kelm"});
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_EQ(help.exitCode(), 5);
    EXPECT_TRUE(help.readAllStandardError().startsWith("kelm: unknown switch -fast"));
}
