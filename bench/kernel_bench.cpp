// Kernel log-on figures against bare Asio, measured in the same run. The simulator's server runs in a
// process of its own (this program started again with --sim), as the kernel does.
//  (a) Log-on to the decoded status, in turn: LogOnKernel as the Log On command runs it (log-off of the
//      last connection, connect, handshake, status request, decoding, panes); the library alone
//      (log_off, log_on, vmsgRequestBlock, pops); and a bare Asio client doing the same protocol steps
//      (close, connect with TCP_NODELAY, LogOn, Accept, status request, reply decoded into time and
//      state). Wall time (medians) with every thread on one CPU, and with the simulator on the other.
//  (b) One status request answered and decoded: KelmDesk (vmsgRequestBlock, DecodeKernelStatus) against
//      the bare client (write, one read, decoding), on one CPU.

#include "protocol/KernelKind.h"
#include "app/CKelmDeskApp.h"
#include "bench/BareFrames.h"
#include "bench/BenchSupport.h"
#include "framework/CStatusBar.h"
#include "kernel/KernelConnection.h"
#include "res/Resource.h"
#include "sim/kernel/KernelServer.h"
#include "protocol/Address.h"
#include "vmsg/vmsg.h"

#include <QApplication>
#include <QStandardPaths>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono;
using asio::ip::tcp;
using namespace bare;

namespace {

constexpr int logOns = 400;
constexpr int requests = 5000;
constexpr int kernelService = protocol::kernelService;
constexpr int statusKind = KernelKind::Status;

// The simulator on the given CPU; prints its port, then serves until it is ended.
int simulator(int cpu)
{
    bench::pinThread(cpu);
    std::ostringstream log; // its lines would cost a write each: kept in memory, and dropped now and then
    SimOptions options;
    KernelService service(options, vmsg::wallClockNow());
    KernelServer server(service, log);
    if (!server.listen("127.0.0.1", 0))
        return 1;
    std::printf("ready %d\n", server.localPort());
    std::fflush(stdout);
    server.run(milliseconds(50), [&log] {
        log.str(std::string());
        return true;
    });
    return 0;
}

double micros(steady_clock::time_point start)
{
    return duration<double, std::micro>(steady_clock::now() - start).count();
}

// The bare client: the protocol's steps by hand, one read per frame.
class BareClient
{
public:
    explicit BareClient(int port)
        : m_endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)), m_socket(m_io)
    {
        vmsg::Message logOn;
        logOn.push(0); // the flag of a log-on by the user
        logOn.push(0); // the instance
        m_logOn = bytesOf(vmsg::FrameType::LogOn, kernelService, 0, logOn);
        m_request = bytesOf(vmsg::FrameType::Data, statusKind, 1, vmsg::Message());
    }

    // Closes the last connection and logs on; false on any failure.
    bool logOn()
    {
        asio::error_code ec;
        m_socket.close(ec);
        m_held = 0;
        m_socket.connect(m_endpoint, ec);
        if (ec)
            return false;
        m_socket.set_option(tcp::no_delay(true), ec);
        putStamp(m_logOn.data());
        asio::write(m_socket, asio::buffer(m_logOn), ec);
        std::uint32_t length = 0;
        if (ec || !readFrame(m_socket, m_buffer, m_held, length) || m_buffer[3] != 2)
            return false;
        consumed(m_buffer, m_held, length);
        return true;
    }

    // Asks for the status and decodes the reply: false unless it is a status of time and state.
    bool status(double& time, int& state)
    {
        putU32(m_request.data() + 12, ++m_requestId);
        putStamp(m_request.data());
        asio::error_code ec;
        asio::write(m_socket, asio::buffer(m_request), ec);
        for (;;) {
            std::uint32_t length = 0;
            BareMessage m;
            if (ec || !readFrame(m_socket, m_buffer, m_held, length) || !decodeBare(m_buffer.data(), length, m))
                return false;
            consumed(m_buffer, m_held, length);
            if (m.type != 4 || m.requestId != m_requestId)
                continue; // an unasked status on the way
            if (m.realCount != 1 || m.intCount != 1)
                return false;
            time = m.reals[0];
            state = m.ints[0];
            return true;
        }
    }

private:
    asio::io_context m_io;
    tcp::endpoint m_endpoint;
    tcp::socket m_socket;
    std::vector<std::uint8_t> m_buffer = std::vector<std::uint8_t>(64 * 1024);
    std::size_t m_held = 0;
    std::vector<std::uint8_t> m_logOn;
    std::vector<std::uint8_t> m_request;
    std::uint32_t m_requestId = 0;
};

struct LogOnFigures
{
    double desk = 0; // median wall time, microseconds
    double library = 0;
    double bare = 0;
    double deskCpu = 0; // processor time of this side per log-on, microseconds
    double libraryCpu = 0;
    double bareCpu = 0;
    int failures = 0;
};

LogOnFigures logOnRound(CStatusBar* bar, int nearCpu, int farCpu)
{
    LogOnFigures f;
    bench::pinThread(nearCpu);
    bench::Child sim({"--sim", std::to_string(farCpu)});
    int simPort = 0;
    if (std::sscanf(sim.readLine().c_str(), "ready %d", &simPort) != 1) {
        f.failures = 1;
        return f;
    }
    ::setenv("NORVEX_PORT_BASE", std::to_string(simPort).c_str(), 1);
    BareClient bare(simPort);
    std::vector<double> desk, library, bareTimes;
    for (int i = 0; i < logOns + 20; ++i) {
        const bool keep = i >= 20;
        bar->SetPaneText(Pane::KernelState, QString());
        double cpu = bench::threadCpuMicros();
        auto start = steady_clock::now();
        if (!LogOnKernel(QStringLiteral("127.0.0.1"), 0, false) || bar->paneText(Pane::KernelState) != "Running")
            ++f.failures;
        if (keep) {
            desk.push_back(micros(start));
            f.deskCpu += bench::threadCpuMicros() - cpu;
        }

        cpu = bench::threadCpuMicros();
        start = steady_clock::now();
        {
            vmsgMsgPort port;
            port.log_off(kernelService);
            const int handle = port.log_on(kernelService, 0, "127.0.0.1", false);
            double t = 0;
            int state = 0;
            vmsgMsgPort* reply = handle ? vmsgRequestBlock(port, handle, statusKind, "   ", 20, nullptr) : nullptr;
            if (!reply || !reply->pop(t, -99999) || !reply->pop(state, -99999))
                ++f.failures;
        }
        if (keep) {
            library.push_back(micros(start));
            f.libraryCpu += bench::threadCpuMicros() - cpu;
        }
        CKelmDeskApp::instance()->kernelHandle = 0; // the library's log-on replaced the desk's connection

        cpu = bench::threadCpuMicros();
        start = steady_clock::now();
        double t = 0;
        int state = 0;
        if (!bare.logOn() || !bare.status(t, state) || state != 1)
            ++f.failures;
        if (keep) {
            bareTimes.push_back(micros(start));
            f.bareCpu += bench::threadCpuMicros() - cpu;
        }
    }
    vmsgMsgPort().log_off(kernelService);
    bench::unpinThread();
    f.desk = bench::median(desk);
    f.library = bench::median(library);
    f.bare = bench::median(bareTimes);
    f.deskCpu /= logOns;
    f.libraryCpu /= logOns;
    f.bareCpu /= logOns;
    return f;
}

} // namespace

int main(int argc, char** argv) // NOLINT(bugprone-exception-escape): a failure ends the run with its text
{
    if (argc == 3 && std::string(argv[1]) == "--sim")
        return simulator(std::atoi(argv[2]));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true); // leaves the user's settings alone
    QApplication qapp(argc, argv);
    CKelmDeskApp app;
    if (!app.initInstance({QStringLiteral("kernel_bench")}))
        return 1;
    CStatusBar* bar = app.statusBar();
    int failures = 0;

    const int here = sched_getcpu();
    std::printf("(a) log-on to the decoded status, %d of each in turn, simulator in another process:\n", logOns);
    std::vector<std::pair<const char*, std::pair<int, int>>> placements = {{"one CPU", {here, here}}};
    if (std::thread::hardware_concurrency() >= 2)
        placements.push_back({"two CPUs", {0, 1}});
    for (const auto& [label, cpus] : placements) {
        const LogOnFigures f = logOnRound(bar, cpus.first, cpus.second);
        failures += f.failures;
        std::printf("    %-9s LogOnKernel %7.1f us, library alone %7.1f us, bare Asio %7.1f us (medians)\n", label,
                    f.desk, f.library, f.bare);
        std::printf("    %-9s ratios to bare Asio: LogOnKernel %.3f%s, library alone %.3f%s\n", "", f.desk / f.bare,
                    cpus.first == cpus.second ? " (goal <= 1.2)" : "", f.library / f.bare,
                    f.failures ? "  FAILURES" : "");
        std::printf("    %-9s this side's processor time per log-on: LogOnKernel %.1f us, library alone %.1f us, "
                    "bare Asio %.1f us\n",
                    "", f.deskCpu, f.libraryCpu, f.bareCpu);
    }

    // (b) on one CPU, against one connection each.
    bench::pinThread(here);
    bench::Child sim({"--sim", std::to_string(here)});
    int simPort = 0;
    if (std::sscanf(sim.readLine().c_str(), "ready %d", &simPort) != 1)
        return 1;
    ::setenv("NORVEX_PORT_BASE", std::to_string(simPort).c_str(), 1);
    LogOnKernel(QStringLiteral("127.0.0.1"), 0, false);
    const int handle = GetKernelHandle();
    BareClient bare(simPort);
    if (!bare.logOn())
        ++failures;
    std::vector<double> desk, bareTimes;
    for (int i = 0; i < requests; ++i) {
        auto start = steady_clock::now();
        {
            vmsgMsgPort port;
            if (vmsgMsgPort* reply = vmsgRequestBlock(port, handle, statusKind, "   ", 20, nullptr))
                DecodeKernelStatus(statusKind, reply);
            else
                ++failures;
        }
        desk.push_back(micros(start));

        start = steady_clock::now();
        double t = 0;
        int state = 0;
        if (!bare.status(t, state))
            ++failures;
        bareTimes.push_back(micros(start));
    }
    const double d = bench::median(desk), b = bench::median(bareTimes);
    std::printf("(b) status request with decoding, %d of each, one CPU:\n", requests);
    std::printf("    KelmDesk median %.1f us, bare Asio median %.1f us, ratio %.3f, difference %+.1f us%s\n", d, b,
                d / b, d - b, failures ? "  FAILURES" : "");
    return failures ? 1 : 0;
}
