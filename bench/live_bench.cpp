// The live state of the lines (LiveClock to LiveNotFired), each figure against a baseline measured
// in the same run with the same program and the live reports off:
//  (a) the runner's CPU per look: the interpreter driven directly, as the runner drives it, over a
//      200-line program with 100 when lines whose tags change at every look, a fake kernel of plain
//      numbers and the reports encoded into frames as for KelmDesk, then dropped; thread CPU time
//      with the live reports against without (goal: at most 1.2 times). Also the interpreter alone
//      (reports dropped unencoded).
//  (b) 50 monitors in one main window, each fed by its own connection from a sender process that
//      runs the same program in a real interpreter per monitor at the runner's pace (a tick every
//      50 ms, a kernel time every 0.25 s, every tag changing with it), so the LiveWhen stream is
//      what the runner's limits let through. Once all 50 are open and executing and 2 s have
//      passed, for 10 s: the longest gap of a 10 ms timer through the real event loop with the
//      main frame's own tick and the painting (goal: at most 20 ms), the UI thread's CPU as a share
//      of one core (goal: at most 25 %), and then the heap held per monitor, live against a monitor
//      without live messages (goal: at most 1.5 times).
// Each (b) measurement is a process of its own (this program again), live and baseline
// alternating. Medians and ranges of the rounds: `live_bench [a|b] [ROUNDS]` (default both parts, 3 rounds
// of (b) and at least 5 of (a)). (b) reports, beside the gap, the UI thread's CPU within it: what of
// the gap is work rather than waiting for a processor shared with the sender.

#include "bench/BenchSupport.h"

#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "core/MonitorRecord.h"
#include "lang/Program.h"
#include "runner/Interpreter.h"
#include "runner/Runner.h"
#include "vmsg/Frame.h"
#include "vmsg/Peer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTimer>

#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kProgramLines = 200;
constexpr int kMonitors = 50;
constexpr double kLook = 0.25;       // the runner's status poll: a new kernel time, so a look, this often
constexpr double kRunnerTick = 0.05; // the runner's tick
constexpr double kSettleSeconds = 2.0;
constexpr double kWindowSeconds = 10.0;

// 200 lines: every odd one a when on a tag of its own that never holds, the even ones a pending
// after and a comment in turn.
std::string liveProgram()
{
    std::string text;
    for (int i = 1; i <= kProgramLines; ++i) {
        char line[128];
        if (i % 2 == 1)
            std::snprintf(line, sizeof line, "when ({T%03d:LEVEL} > 1000000) {V%03d:POS} = 0", (i + 1) / 2,
                          (i + 1) / 2);
        else if (i % 4 == 2)
            std::snprintf(line, sizeof line, "after (86400) {F%03d:FLOW} = 1", i / 2);
        else
            std::snprintf(line, sizeof line, "* step %d", i);
        text += line;
        text += '\n';
    }
    return text;
}

// Every tag the program names, each read as its base value plus the kernel time of the look, so
// every value changes at every look.
class FakeKernel : public kelm::KernelPort
{
public:
    explicit FakeKernel(const kelm::Program& program)
    {
        double base = 1.0;
        for (const kelm::Statement& s : program.statements) {
            for (const std::string& tag : s.tags())
                m_tags.emplace(tag, base++);
        }
    }
    void setTime(double t) { m_time = t; }
    kelm::KernelReply read(const std::string& tag) override
    {
        const auto it = m_tags.find(tag);
        if (it == m_tags.end())
            return kelm::KernelReply::failed(KernelError::NoSuchVariable, "no such variable");
        return kelm::KernelReply::number(it->second + m_time);
    }
    kelm::KernelReply write(const std::string&, double value) override { return kelm::KernelReply::number(value); }
    kelm::KernelReply control(kelm::SendKind) override { return kelm::KernelReply(); }
    kelm::KernelReply opcode(const std::string&, const std::vector<std::string>&) override
    {
        return kelm::KernelReply();
    }

private:
    std::map<std::string, double> m_tags;
    double m_time = 0.0;
};

// What the runner does with a report short of the socket: the message and its frame.
class EncodingReporter : public kelm::Reporter
{
public:
    explicit EncodingReporter(bool encode) : m_encode(encode) {}
    void report(const kelm::Report& r) override
    {
        ++reports;
        if (r.kind >= ClientMessageKind::LiveClock && r.kind <= ClientMessageKind::LiveNotFired)
            ++live;
        if (!m_encode)
            return;
        m_frame.clear();
        vmsg::encodeFrame(vmsg::FrameType::Data, r.kind, 0, kelm::deskMessage(r), r.time, 262144, m_frame);
        bytes += m_frame.size();
    }
    long reports = 0;
    long live = 0;
    std::size_t bytes = 0;

private:
    bool m_encode;
    std::vector<std::uint8_t> m_frame;
};

struct LookFigures
{
    double cpuPerLookUs = 0;
    double livePerLook = 0;
};

// Thread CPU per look over looks looks, after the start and a first second of looks.
LookFigures runLooks(const kelm::Program& program, bool liveOn, bool encode, int looks)
{
    FakeKernel kernel(program);
    EncodingReporter reporter(encode);
    kelm::Interpreter interpreter(program, kernel, reporter);
    interpreter.setLiveReports(liveOn);
    const double wall0 = 1000.0; // elapsed kernel time: far below a calendar time
    interpreter.start(0.0, kelm::KernelState::Running, wall0);
    auto look = [&](int k) {
        const double t = k * kLook;
        kernel.setTime(t);
        interpreter.update(t, kelm::KernelState::Running, wall0 + t);
    };
    const int warm = 4;
    for (int k = 1; k <= warm; ++k)
        look(k);
    const long liveBefore = reporter.live;
    const double c0 = bench::threadCpuMicros();
    for (int k = warm + 1; k <= warm + looks; ++k)
        look(k);
    const double cpu = bench::threadCpuMicros() - c0;
    if (interpreter.ended())
        std::fprintf(stderr, "live_bench: the program ended early\n");
    return {cpu / looks, double(reporter.live - liveBefore) / looks};
}

struct Spread
{
    double median = 0, low = 0, high = 0;
};

Spread spread(const std::vector<double>& v)
{
    if (v.empty())
        return {};
    return {bench::median(v), *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end())};
}

void partA(int rounds)
{
    const kelm::Program program = kelm::readProgram(liveProgram());
    const int looks = 2000;
    for (bool encode : {true, false}) {
        std::vector<double> product, baseline, ratio, perLook;
        for (int round = 0; round < rounds; ++round) {
            // Alternating which goes first.
            LookFigures on, off;
            if (round % 2 == 0) {
                on = runLooks(program, true, encode, looks);
                off = runLooks(program, false, encode, looks);
            } else {
                off = runLooks(program, false, encode, looks);
                on = runLooks(program, true, encode, looks);
            }
            product.push_back(on.cpuPerLookUs);
            baseline.push_back(off.cpuPerLookUs);
            ratio.push_back(on.cpuPerLookUs / off.cpuPerLookUs);
            perLook.push_back(on.livePerLook);
        }
        const Spread p = spread(product), b = spread(baseline), r = spread(ratio);
        std::printf("(a) runner CPU per look, %s, %d rounds of %d looks: live %.1f us [%.1f-%.1f] (%.1f live "
                    "messages a look), without %.1f us [%.1f-%.1f], ratio %.2f [%.2f-%.2f] (goal <= 1.2)\n",
                    encode ? "interpreter and encoding" : "interpreter alone", rounds, looks, p.median, p.low, p.high,
                    bench::median(perLook), b.median, b.low, b.high, r.median, r.low, r.high);
        std::fflush(stdout);
    }
}

// ---- (b) ----

double monotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

std::size_t heapInUse()
{
    malloc_trim(0);
    return mallinfo2().uordblks;
}

// One runner's link to KelmDesk: reports become messages as the runner makes them; what the
// connection's full queue refuses waits here, and the runner does not look again until it went
// out (the runner itself waits in its send).
class DeskLink : public kelm::Reporter
{
public:
    DeskLink(vmsg::Peer& peer, int handle) : m_peer(peer), m_handle(handle) {}
    void report(const kelm::Report& r) override
    {
        if (r.kind >= ClientMessageKind::LiveClock && r.kind <= ClientMessageKind::LiveNotFired)
            ++live;
        m_backlog.emplace_back(r.kind, kelm::deskMessage(r));
        drain();
    }
    bool drain()
    {
        while (!m_backlog.empty()) {
            if (!m_peer.send(m_handle, m_backlog.front().first, m_backlog.front().second))
                return false;
            m_backlog.pop_front();
            ++sent;
        }
        return true;
    }
    bool open() const { return m_peer.isOpen(m_handle); }
    long live = 0;
    long sent = 0;

private:
    vmsg::Peer& m_peer;
    int m_handle;
    std::deque<std::pair<int, vmsg::Message>> m_backlog;
};

// The sender: kMonitors runners in one process. Writes "SECONDS LIVE SENT" (monotonic clock,
// counts so far) to out every half second.
[[noreturn]] void runSenders(const std::string& address, bool liveOn, int out)
{
    const kelm::Program program = kelm::readProgram(liveProgram());
    vmsg::Peer peer;
    std::vector<std::unique_ptr<DeskLink>> links;
    std::vector<std::unique_ptr<FakeKernel>> kernels;
    std::vector<std::unique_ptr<kelm::Interpreter>> interpreters;
    for (int i = 0; i < kMonitors; ++i) {
        const int h = peer.connect(address, std::chrono::seconds(5));
        if (!h)
            _exit(2);
        links.push_back(std::make_unique<DeskLink>(peer, h));
        kernels.push_back(std::make_unique<FakeKernel>(program));
        auto send = [&](int kind, int line, std::string text) {
            kelm::Report r;
            r.kind = kind;
            r.line = line;
            r.text = std::move(text);
            links.back()->report(r);
        };
        // As the runner opens its monitor.
        send(ClientMessageKind::MonitorOpen, 0, {});
        send(ClientMessageKind::ProgramName, 0, "live" + std::to_string(i) + ".kelm");
        for (std::size_t k = 0; k < program.lines.size(); ++k)
            send(ClientMessageKind::ListingLine, int(k + 1), program.lines[k]);
        send(ClientMessageKind::ListingTop, 0, {});
        interpreters.push_back(std::make_unique<kelm::Interpreter>(program, *kernels.back(), *links.back()));
        interpreters.back()->setLiveReports(liveOn);
        interpreters.back()->setStateLines(false);
        peer.poll(std::chrono::milliseconds(0));
    }
    const double start = monotonicSeconds();
    // Kernel time as the runner sees it: a new status every kLook, the clock at speed 1.
    auto kernelTime = [start](double now) { return std::floor((now - start) / kLook) * kLook; };
    for (int i = 0; i < kMonitors; ++i)
        interpreters[std::size_t(i)]->start(0.0, kelm::KernelState::Running, start);
    double nextLine = start;
    // The runner's own loop: a tick every 50 ms, waiting in the poller between.
    peer.run(std::chrono::milliseconds(int(kRunnerTick * 1000)), [&] {
        const double now = monotonicSeconds();
        const double t = kernelTime(now);
        const double wall = 1000.0 + (now - start);
        for (std::size_t i = 0; i < links.size(); ++i) {
            if (!links[i]->open())
                _exit(3);
            if (!links[i]->drain())
                continue;
            kernels[i]->setTime(t);
            interpreters[i]->update(t, kelm::KernelState::Running, wall);
        }
        if (now >= nextLine) {
            nextLine += 0.5;
            long live = 0, sent = 0;
            for (const auto& l : links) {
                live += l->live;
                sent += l->sent;
            }
            char text[96];
            const int n = std::snprintf(text, sizeof text, "%.4f %ld %ld\n", now, live, sent);
            if (write(out, text, std::size_t(n)) < 0)
                _exit(0);
        }
    });
    _exit(0);
}

// One (b) measurement in this process: prints "b LIVE GAP_MS CPU_SHARE HEAP_PER_MONITOR LIVE_RATE
// OPENING_GAP_MS GAP_CPU_MS": GAP_CPU_MS is the UI thread's CPU within the longest gap, so the work
// in it, not the wait for a processor.
int measureMonitors(int argc, char** argv, bool liveOn)
{
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    signal(SIGPIPE, SIG_IGN);
    QApplication qapp(argc, argv);
    CKelmDeskApp app;
    if (!app.initInstance({QStringLiteral("kelmdesk")}))
        return 1;
    const std::string address = qgetenv("VMSG_ADDRESS").toStdString();
    const std::size_t heapBefore = heapInUse();
    int fds[2];
    if (pipe(fds) != 0)
        return 1;
    const pid_t child = fork();
    if (child == 0) {
        ::close(fds[0]);
        runSenders(address, liveOn, fds[1]);
    }
    ::close(fds[1]);

    enum class Phase { Opening, Settling, Window, Done } phase = Phase::Opening;
    QEventLoop loop;
    QElapsedTimer clock;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    double last = 0, phaseStart = 0, windowCpu = 0, windowStart = 0, windowEnd = 0, windowMono0 = 0, windowMono1 = 0;
    double openingGap = 0, windowGap = 0, windowGapCpu = 0, lastCpu = 0;
    bool failed = false;
    auto allExecuting = [&app] {
        if (app.monitors.size() < std::size_t(kMonitors))
            return false;
        for (const auto& r : app.monitors) {
            if (r->state != MonitorState::Executing || r->lineStarts.size() < std::size_t(kProgramLines))
                return false;
        }
        return true;
    };
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double now = double(clock.nsecsElapsed()) / 1e6;
        const double gap = now - last;
        const double cpuNow = bench::threadCpuMicros();
        const double gapCpu = (cpuNow - lastCpu) / 1e3;
        last = now;
        lastCpu = cpuNow;
        switch (phase) {
        case Phase::Opening:
            openingGap = std::max(openingGap, gap);
            if (allExecuting()) {
                phase = Phase::Settling;
                phaseStart = now;
            } else if (now > 120000) {
                failed = true;
                loop.quit();
            }
            break;
        case Phase::Settling:
            if (now - phaseStart >= kSettleSeconds * 1000) {
                phase = Phase::Window;
                windowStart = now;
                windowMono0 = monotonicSeconds();
                windowCpu = bench::threadCpuMicros();
            }
            break;
        case Phase::Window:
            if (gap > windowGap) {
                windowGap = gap;
                windowGapCpu = gapCpu;
            }
            if (now - windowStart >= kWindowSeconds * 1000) {
                windowCpu = bench::threadCpuMicros() - windowCpu;
                windowEnd = now;
                windowMono1 = monotonicSeconds();
                phase = Phase::Done;
                loop.quit();
            }
            break;
        case Phase::Done:
            break;
        }
    });
    clock.start();
    probe.start();
    loop.exec();
    probe.stop();
    const std::size_t heap = heapInUse() - heapBefore;
    const bool stillExecuting = allExecuting();

    // The sender's counts nearest the window's ends.
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    FILE* counts = fdopen(fds[0], "r");
    double s0 = 0, s1 = 0;
    long live0 = 0, live1 = 0;
    double t = 0;
    long live = 0, sent = 0;
    while (counts && std::fscanf(counts, "%lf %ld %ld", &t, &live, &sent) == 3) {
        if (t <= windowMono0 || s0 == 0) {
            s0 = t;
            live0 = live;
        }
        if (t <= windowMono1) {
            s1 = t;
            live1 = live;
        }
    }
    const double liveRate = s1 > s0 ? double(live1 - live0) / (s1 - s0) : 0;
    if (failed || !stillExecuting) {
        std::printf("b failed\n");
        std::fflush(stdout);
        _exit(1);
    }
    std::printf("b %d %.3f %.4f %.1f %.1f %.3f %.3f\n", liveOn ? 1 : 0, windowGap,
                windowCpu / 1e3 / (windowEnd - windowStart), double(heap) / kMonitors / 1024.0, liveRate, openingGap,
                windowGapCpu);
    std::fflush(stdout);
    // The monitors need no orderly end.
    _exit(0);
}

void partB(int rounds)
{
    std::vector<double> gap[2], cpu[2], heap[2], rate[2], opening[2], gapCpu[2];
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 2; ++k) {
            const bool liveOn = (round + k) % 2 == 0; // alternating which goes first
            bench::Child child({"--monitors", liveOn ? "1" : "0"});
            const std::string line = child.readLine();
            child.wait();
            int on = 0;
            double g = 0, c = 0, h = 0, r = 0, o = 0, gc = 0;
            if (std::sscanf(line.c_str(), "b %d %lf %lf %lf %lf %lf %lf", &on, &g, &c, &h, &r, &o, &gc) != 7) {
                std::printf("(b) a measurement failed: \"%s\"\n", line.c_str());
                continue;
            }
            gap[on].push_back(g);
            cpu[on].push_back(c * 100);
            heap[on].push_back(h);
            rate[on].push_back(r);
            opening[on].push_back(o);
            gapCpu[on].push_back(gc);
            std::printf("    round %d, live %s: longest gap %.1f ms (UI CPU in it %.1f ms), UI CPU %.1f %%, heap %.0f "
                        "KiB a monitor, %.0f live messages/s, longest gap while opening %.1f ms\n",
                        round + 1, on ? "on" : "off", g, gc, c * 100, h, r, o);
            std::fflush(stdout);
        }
    }
    auto line = [](const char* what, const std::vector<double>& p, const std::vector<double>& b, const char* unit,
                   const char* goal) {
        const Spread sp = spread(p), sb = spread(b);
        std::printf("(b) %s: live %.1f %s [%.1f-%.1f], without %.1f %s [%.1f-%.1f], ratio %.2f; %s\n", what, sp.median,
                    unit, sp.low, sp.high, sb.median, unit, sb.low, sb.high, sb.median > 0 ? sp.median / sb.median : 0,
                    goal);
    };
    std::printf("(b) %d monitors, 200-line program with 100 when lines, %d rounds, medians [ranges]:\n", kMonitors,
                rounds);
    line("longest gap of a 10 ms timer over 10 s", gap[1], gap[0], "ms", "goal <= 20 ms");
    line("UI-thread CPU within that longest gap", gapCpu[1], gapCpu[0], "ms", "the work in it, not the wait");
    line("UI-thread CPU, share of one core", cpu[1], cpu[0], "%", "goal <= 25 %");
    line("heap per monitor", heap[1], heap[0], "KiB", "goal: ratio <= 1.5");
    line("live messages sent a second, all monitors", rate[1], rate[0], "/s", "at most 400 a runner");
    line("longest gap while the 50 monitors open", opening[1], opening[0], "ms", "no goal");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--monitors") == 0)
        return measureMonitors(argc, argv, std::strcmp(argv[2], "1") == 0);
    const std::string part = argc >= 2 ? argv[1] : "";
    const int rounds = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 3;
    if (part.empty() || part == "a")
        partA(std::max(rounds, 5));
    if (part.empty() || part == "b")
        partB(rounds);
    return 0;
}
