// Message-port figures against bare Asio over loopback, measured in the same run. The far ends run in
// a process of their own (this program started again in another role), as the kernel and the runners do.
//  (a) Request/reply round trip: vmsgRequestBlock as KelmDesk calls it (fresh port, pushes, request,
//      pops) against an optimised bare Asio pair (TCP_NODELAY, one read per frame, both ends decode what
//      they get), in alternating blocks; once with every thread on one CPU, once with the measuring side
//      on one CPU and the far ends on the other. Wall time per round trip (medians) and processor time
//      of both ends per round trip.
//  (b) One-way flood on 50 ms ticks: vmsgScheduler against a bare Asio reader that decodes the same
//      frames into values under the same 4 ms budget, alternating within each tick, both fed by one
//      process of blocking writers. Processor time per delivered message, system calls per read burst,
//      and the longest vmsgScheduler call in processor and wall time.

#include "bench/BareFrames.h"
#include "bench/BenchSupport.h"
#include "vmsg/Context.h"
#include "vmsg/Frame.h"
#include "vmsg/Peer.h"
#include "vmsg/Secret.h"
#include "vmsg/vmsg.h"

#include <asio.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using namespace std::chrono;
using asio::ip::tcp;
using namespace bare;

namespace {

constexpr int roundTrips = 20000;
constexpr int blockSize = 100; // round trips of one kind in a row
constexpr milliseconds tick{50};
constexpr microseconds readBudget{4000}; // the bare reader's, as vmsgScheduler's
constexpr int warmUpTicks = 4;
int measuredTicks = 100; // "flood N" measures N ticks
constexpr int stopKind = 999;

// ---- the bare side: frames built and read by hand

vmsg::Message blockList()
{
    vmsg::Message m;
    m.push(std::vector<std::string>{"FEED", "PUMP1", "PUMP2", "HX101", "COLUMN", "DRUM", "VALVE7", "SPLIT"});
    return m;
}

vmsg::Message listingLine(int line)
{
    vmsg::Message m;
    m.push(line);
    m.push("after 00:00:10 set {FEED:F.t} = 312.5 // warm up");
    return m;
}

vmsg::Message blockQuery()
{
    vmsg::Message m;
    m.push("$top");
    m.pushDivider();
    m.push("*");
    m.pushDivider();
    m.push(1);
    return m;
}

// ---- (a) round trip: the far ends' process

int farEnd(int cpu)
{
    bench::pinThread(cpu);
    vmsg::Peer kernel;
    if (!kernel.listen("127.0.0.1", 0))
        return 1;
    const vmsg::Message answer = blockList();
    kernel.setMessageHandler([&](vmsg::Message& m) {
        if (m.kind == stopKind)
            kernel.stop();
        else
            kernel.reply(m, answer);
    });

    asio::io_context io;
    tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    std::printf("ready %d %d\n", kernel.localPort(), int(acceptor.local_endpoint().port()));
    std::fflush(stdout);

    // The bare server answers each request with the same reply, its request id and time stamp set.
    std::atomic<double> bareCpu{0};
    std::atomic<std::uint64_t> bareCalls{0};
    std::thread bare([&] {
        const bench::SyscallCounter counter;
        const std::uint64_t calls = counter.calls();
        const double start = bench::threadCpuMicros();
        tcp::socket socket = acceptor.accept();
        socket.set_option(tcp::no_delay(true));
        std::vector<std::uint8_t> reply = bytesOf(vmsg::FrameType::Reply, 10, 0, answer);
        std::vector<std::uint8_t> buffer(64 * 1024);
        std::size_t held = 0;
        std::uint32_t length = 0;
        BareMessage request;
        while (readFrame(socket, buffer, held, length) && decodeBare(buffer.data(), length, request)) {
            putU32(reply.data() + 12, request.requestId);
            putStamp(reply.data());
            consumed(buffer, held, length);
            asio::error_code ec;
            asio::write(socket, asio::buffer(reply), ec);
            if (ec)
                break;
        }
        bareCpu = bench::threadCpuMicros() - start;
        bareCalls = counter.calls() - calls;
    });

    const bench::SyscallCounter counter;
    const std::uint64_t calls = counter.calls();
    const double start = bench::threadCpuMicros();
    kernel.run(seconds(1), nullptr);
    const double kernelCpu = bench::threadCpuMicros() - start;
    const std::uint64_t kernelCalls = counter.calls() - calls;
    bare.join();
    std::printf("cpu %.0f %.0f %llu %llu\n", kernelCpu, bareCpu.load(), static_cast<unsigned long long>(kernelCalls),
                static_cast<unsigned long long>(bareCalls.load()));
    return 0;
}

// ---- (a) round trip: the measuring side

struct RoundTrip
{
    double library = 0; // median wall time, microseconds
    double bare = 0;
    double libraryCpu = 0; // processor time of both ends per round trip, microseconds
    double bareCpu = 0;
    // System calls per round trip of this side and of the far end; 0 where they cannot be counted.
    double libraryCalls = 0, libraryFarCalls = 0;
    double bareCalls = 0, bareFarCalls = 0;
    int failures = 0;
};

RoundTrip roundTrip(int nearCpu, int farCpu)
{
    RoundTrip figures;
    bench::pinThread(nearCpu);
    bench::Child far({"--far-end", std::to_string(farCpu)});
    int kernelPort = 0;
    int barePort = 0;
    if (std::sscanf(far.readLine().c_str(), "ready %d %d", &kernelPort, &barePort) != 2) {
        figures.failures = 1;
        return figures;
    }

    ::setenv("NORVEX_PORT_BASE", std::to_string(kernelPort).c_str(), 1);
    vmsgMsgPort logOn;
    const int handle = logOn.log_on(65536, 0, "127.0.0.1", true);
    asio::io_context io;
    tcp::socket bare(io);
    bare.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(barePort)});
    bare.set_option(tcp::no_delay(true));
    std::vector<std::uint8_t> request = bytesOf(vmsg::FrameType::Data, 10, 1, blockQuery());
    std::vector<std::uint8_t> buffer(64 * 1024);
    std::size_t held = 0;
    std::uint32_t requestId = 0;

    auto library = [&] {
        vmsgMsgPort port; // as KelmDesk does it: a fresh port, pushes, request, pops
        port.push("$top");
        port.push_divider();
        port.push("*");
        port.push_divider();
        port.push(1);
        vmsgMsgPort* reply = vmsgRequestBlock(port, handle, 10, "   ", 20, nullptr);
        int count = 0;
        char** names = nullptr;
        if (!reply || !reply->pop(count, names, -99999, -1) || count != 8)
            ++figures.failures;
    };
    auto bareOne = [&] {
        putU32(request.data() + 12, ++requestId);
        putStamp(request.data());
        asio::write(bare, asio::buffer(request));
        std::uint32_t length = 0;
        BareMessage reply;
        if (!readFrame(bare, buffer, held, length) || !decodeBare(buffer.data(), length, reply) ||
            reply.requestId != requestId || reply.textCount != 8)
            ++figures.failures;
        consumed(buffer, held, length);
    };

    for (int i = 0; i < 1000; ++i) {
        library();
        bareOne();
    }
    std::vector<double> libraryTimes, bareTimes;
    double libraryNearCpu = 0, bareNearCpu = 0;
    const bench::SyscallCounter counter;
    std::uint64_t libraryCalls = 0, bareCalls = 0;
    for (int block = 0; block < roundTrips / blockSize; ++block) {
        std::uint64_t calls = counter.calls();
        double cpu = bench::threadCpuMicros();
        for (int i = 0; i < blockSize; ++i) {
            const auto start = steady_clock::now();
            library();
            libraryTimes.push_back(duration<double, std::micro>(steady_clock::now() - start).count());
        }
        double now = bench::threadCpuMicros();
        libraryNearCpu += now - cpu;
        cpu = now;
        std::uint64_t callsNow = counter.calls();
        libraryCalls += callsNow - calls - 2; // less this reading and the clock's
        calls = callsNow;
        for (int i = 0; i < blockSize; ++i) {
            const auto start = steady_clock::now();
            bareOne();
            bareTimes.push_back(duration<double, std::micro>(steady_clock::now() - start).count());
        }
        now = bench::threadCpuMicros();
        bareNearCpu += now - cpu;
        bareCalls += counter.calls() - calls - 2;
    }

    vmsgMsgPort stop;
    stop.write(handle, stopKind, "   ", 0, true);
    bare.close();
    double kernelCpu = 0, bareFarCpu = 0, kernelCalls = 0, bareFarCalls = 0;
    if (std::sscanf(far.readLine().c_str(), "cpu %lf %lf %lf %lf", &kernelCpu, &bareFarCpu, &kernelCalls,
                    &bareFarCalls) != 4)
        ++figures.failures;
    far.wait();
    logOn.log_off(65536);
    bench::unpinThread();

    // The far ends count the warm-up's round trips too.
    const double calls = roundTrips + 1000;
    figures.library = bench::median(libraryTimes);
    figures.bare = bench::median(bareTimes);
    figures.libraryCpu = libraryNearCpu / roundTrips + kernelCpu / calls;
    figures.bareCpu = bareNearCpu / roundTrips + bareFarCpu / calls;
    if (counter.ok()) {
        figures.libraryCalls = double(libraryCalls) / roundTrips;
        figures.bareCalls = double(bareCalls) / roundTrips;
        figures.libraryFarCalls = kernelCalls / calls;
        figures.bareFarCalls = bareFarCalls / calls;
    }
    return figures;
}

// ---- (b) flood: the writers' process

void writeForever(tcp::socket& socket, const std::vector<std::uint8_t>& batch)
{
    asio::error_code ec;
    while (!ec)
        asio::write(socket, asio::buffer(batch), ec);
}

int sender(const std::string& libraryAddress, int barePort, int cpu)
{
    bench::pinThread(cpu);
    std::vector<std::uint8_t> batch;
    for (int i = 0; i < 1000; ++i) {
        const std::vector<std::uint8_t> frame = bytesOf(vmsg::FrameType::Data, 506, 0, listingLine(i));
        batch.insert(batch.end(), frame.begin(), frame.end());
    }
    std::string host;
    int libraryPort = 0;
    if (!protocol::splitHostPort(libraryAddress, host, libraryPort))
        return 1;
    asio::io_context io;
    tcp::socket toLibrary(io);
    tcp::socket toBare(io);
    asio::error_code ec;
    toLibrary.connect({asio::ip::make_address(host), static_cast<unsigned short>(libraryPort)}, ec);
    toBare.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(barePort)}, ec);
    if (ec)
        return 1;
    // The library's port wants a log-on with its secret first; its Accept is read and ignored.
    vmsg::Message secret;
    secret.push(vmsg::publishedSecret());
    const std::vector<std::uint8_t> logOn = bytesOf(vmsg::FrameType::LogOn, 1, 0, secret);
    asio::write(toLibrary, asio::buffer(logOn), ec);
    std::uint8_t accept[24];
    asio::read(toLibrary, asio::buffer(accept), ec);
    if (ec)
        return 1;
    std::thread bareWriter([&] { writeForever(toBare, batch); });
    writeForever(toLibrary, batch);
    bareWriter.join();
    return 0;
}

// ---- (b) flood: the readers

struct Calls
{
    std::vector<double> wallMs;
    std::vector<double> cpuMs;
    std::vector<double> nsPerMessage; // of each call
    std::vector<long> preempted;      // involuntary context switches in each call
    std::vector<long> delivered;      // messages of each call
    double cpuUs = 0;                 // in all measured calls
    double systemUs = 0;              // of that in the kernel (by the kernel's sampled split)
    long messages = 0;
    std::uint64_t syscalls = 0;
    std::uint64_t receives = 0;
};

// Runs call and records what it cost; the counter's own calls in the window are taken off.
template <class F>
void measured(F&& call, long& delivered, const bench::SyscallCounter& counter, std::uint64_t overhead, Calls& calls,
              bool keep)
{
    const long before = delivered;
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    const long switches = usage.ru_nivcsw;
    auto micros = [](const timeval& t) { return double(t.tv_sec) * 1e6 + double(t.tv_usec); };
    const double system = micros(usage.ru_stime);
    const std::uint64_t receives = counter.receives();
    const std::uint64_t syscalls = counter.calls();
    const double cpu = bench::threadCpuMicros();
    const auto start = steady_clock::now();
    call();
    const double wall = duration<double, std::milli>(steady_clock::now() - start).count();
    const double used = bench::threadCpuMicros() - cpu;
    const std::uint64_t syscallsAfter = counter.calls();
    const std::uint64_t receivesAfter = counter.receives();
    getrusage(RUSAGE_THREAD, &usage);
    if (!keep)
        return;
    calls.preempted.push_back(usage.ru_nivcsw - switches);
    calls.delivered.push_back(delivered - before);
    calls.nsPerMessage.push_back(delivered > before ? used * 1000 / double(delivered - before) : 0);
    calls.wallMs.push_back(wall);
    calls.cpuMs.push_back(used / 1000);
    calls.cpuUs += used;
    calls.systemUs += micros(usage.ru_stime) - system;
    calls.messages += delivered - before;
    calls.syscalls += syscallsAfter - syscalls - overhead;
    calls.receives += receivesAfter - receives;
}

double longest(const std::vector<double>& samples)
{
    return samples.empty() ? 0.0 : *std::max_element(samples.begin(), samples.end());
}

void printReader(const char* name, const Calls& c, bool counted)
{
    const double perMessage = c.messages ? c.cpuUs * 1000 / double(c.messages) : 0;
    const double kernel = c.messages ? c.systemUs * 1000 / double(c.messages) : 0;
    std::printf("    %-9s %6.1f ns of processor time per delivered message (%.1f in the kernel), %ld messages", name,
                perMessage, kernel, c.messages);
    if (counted)
        std::printf(", %.3f system calls per read burst (%llu calls, %llu reads)",
                    c.receives ? double(c.syscalls) / double(c.receives) : 0.0,
                    static_cast<unsigned long long>(c.syscalls), static_cast<unsigned long long>(c.receives));
    std::printf("\n");
}

int flood()
{
    vmsgMsgPort setup(0, nullptr, 262144, 2, 0, 1);
    const std::string address = vmsg::Context::global().address();
    long libraryDelivered = 0;
    long checksum = 0;
    bool loggedOn = false;
    setup.register_client_notify([&](int, int event, long) { loggedOn = loggedOn || event > 0; }, 0);
    vmsgRegisterNonReply([&](int, vmsgMsgPort* m) {
        int line = 0;
        char* text = nullptr;
        if (m->pop(line, -99999) && m->pop(text, -99999, -1)) {
            checksum += line + text[0];
            ++libraryDelivered;
        }
    });

    asio::io_context io;
    tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    // The readers on one CPU, the writers on the other, so that they take no time from the readers.
    const bool split = std::thread::hardware_concurrency() >= 2;
    if (split)
        bench::pinThread(0);
    bench::Child writers({"--sender", address, std::to_string(acceptor.local_endpoint().port()), split ? "1" : "-1"});
    tcp::socket bare = acceptor.accept();
    bare.non_blocking(true);
    const auto deadline = steady_clock::now() + seconds(10);
    while (!loggedOn && steady_clock::now() < deadline)
        vmsgScheduler(0);
    if (!loggedOn) {
        std::printf("(b) the writers' process did not log on\n");
        return 1;
    }
    // Both receiving sockets get the same fixed receive buffer: left to grow by themselves they end at
    // different sizes (it depends on how each is read), and what a read costs the kernel depends on it.
    const int receiveBuffer = 4 * 1024 * 1024;
    bare.set_option(asio::socket_base::receive_buffer_size(receiveBuffer));
    std::string libraryHost;
    int libraryPort = 0;
    protocol::splitHostPort(address, libraryHost, libraryPort);
    bool sized = false;
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_storage local{}, peer{};
        socklen_t localSize = sizeof local, peerSize = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 || local.ss_family != AF_INET ||
            getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0)
            continue;
        if (ntohs(reinterpret_cast<sockaddr_in&>(local).sin_port) == libraryPort)
            sized = setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer) == 0;
    }
    if (!sized)
        std::printf("(b) the library's socket was not found: its receive buffer is left as it is\n");

    // The bare reader: bursts of one read each until the socket is drained or the budget is spent,
    // every frame checked and decoded into values, partial frames kept for the next burst. So that
    // both readers leave their sockets alike (the cost of a read depends on how full the socket and
    // the writer's queue are), it also stops after as many messages as the library's last call took.
    std::vector<std::uint8_t> buffer(64 * 1024);
    std::size_t held = 0;
    long bareDelivered = 0;
    long quota = 0;
    auto bareRead = [&] {
        const auto until = steady_clock::now() + readBudget;
        const long stopAt = bareDelivered + quota;
        BareMessage m;
        for (;;) {
            asio::error_code ec;
            const std::size_t room = buffer.size() - held;
            const std::size_t n = bare.read_some(asio::buffer(buffer.data() + held, room), ec);
            if (ec)
                return;
            held += n;
            std::size_t at = 0;
            while (held - at >= 8) {
                const std::uint8_t* p = buffer.data() + at;
                const std::uint32_t length = u32(p + 4);
                if (!headerOk(p)) {
                    std::printf("bare reader: bad frame\n");
                    std::exit(1);
                }
                if (held - at < length)
                    break;
                if (decodeBare(p, length, m) && m.intCount == 1 && m.textCount == 1) {
                    checksum += m.ints[0] + m.texts[0][0];
                    ++bareDelivered;
                }
                at += length;
            }
            std::memmove(buffer.data(), buffer.data() + at, held - at);
            held -= at;
            if (n < room || bareDelivered >= stopAt || steady_clock::now() >= until)
                return;
        }
    };

    const bench::SyscallCounter counter;
    std::uint64_t overhead = 0;
    if (counter.ok()) {
        long none = 0;
        Calls empty;
        for (int i = 0; i < 10; ++i)
            measured([] {}, none, counter, 0, empty, true);
        overhead = empty.syscalls / 10;
    }

    Calls library, bareCalls;
    auto next = steady_clock::now();
    for (int t = 0; t < warmUpTicks + measuredTicks; ++t) {
        next += tick;
        std::this_thread::sleep_until(next);
        const bool keep = t >= warmUpTicks;
        auto runLibrary = [&] {
            const long before = libraryDelivered;
            measured([] { vmsgScheduler(8454144); }, libraryDelivered, counter, overhead, library, keep);
            quota = std::max(1L, libraryDelivered - before);
        };
        auto runBare = [&] { measured(bareRead, bareDelivered, counter, overhead, bareCalls, keep); };
        // VMSG_BENCH_READER=library or =bare runs one reader only (for profiles of one side).
        static const std::string only = std::getenv("VMSG_BENCH_READER") ? std::getenv("VMSG_BENCH_READER") : "";
        if (only == "library") {
            runLibrary();
        } else if (only == "bare") {
            quota = 1L << 30;
            runBare();
        } else if (t % 2) {
            runLibrary();
            runBare();
        } else {
            runBare();
            runLibrary();
        }
    }
    vmsgRegisterNonReply(nullptr);

    const double lib = library.messages ? library.cpuUs / double(library.messages) : 0;
    const double base = bareCalls.messages ? bareCalls.cpuUs / double(bareCalls.messages) : 0;
    // Each tick's two calls run a few milliseconds apart: their ratio sees the same machine.
    std::vector<double> paired;
    for (std::size_t i = 0; i < library.nsPerMessage.size() && i < bareCalls.nsPerMessage.size(); ++i) {
        if (library.nsPerMessage[i] > 0 && bareCalls.nsPerMessage[i] > 0)
            paired.push_back(library.nsPerMessage[i] / bareCalls.nsPerMessage[i]);
    }
    std::printf("(b) one-way flood of kind 506 lines from another process, read every %lld ms for %d ticks:\n",
                static_cast<long long>(tick.count()), measuredTicks);
    printReader("library", library, counter.ok());
    printReader("bare Asio", bareCalls, counter.ok());
    std::printf("    ratio %.2f over all calls, median of the ticks' ratios %.2f (goal <= 1.5)%s\n",
                base > 0 ? lib / base : 0.0, bench::median(paired),
                counter.ok() ? "" : "   (system calls not counted: no trace points)");
    // Wall time of calls that were not preempted: what the call itself takes, not the machine's load.
    auto longestUnpreempted = [](const Calls& c) {
        double longest = 0;
        for (std::size_t i = 0; i < c.wallMs.size(); ++i) {
            if (c.preempted[i] == 0)
                longest = std::max(longest, c.wallMs[i]);
        }
        return longest;
    };
    auto preemptedCalls = [](const Calls& c) {
        return std::count_if(c.preempted.begin(), c.preempted.end(), [](long n) { return n > 0; });
    };
    std::printf("    vmsgScheduler calls: longest %.2f ms processor time; wall time longest %.2f ms, %.2f ms of "
                "those not preempted (goal <= 5), median %.2f ms; %ld of %zu calls preempted\n",
                longest(library.cpuMs), longest(library.wallMs), longestUnpreempted(library),
                bench::median(library.wallMs), long(preemptedCalls(library)), library.wallMs.size());
    // A call's work is bounded by its messages; one that took long with a usual count was held up.
    const auto slowest = std::max_element(library.cpuMs.begin(), library.cpuMs.end()) - library.cpuMs.begin();
    if (!library.cpuMs.empty()) {
        std::vector<double> counts(library.delivered.begin(), library.delivered.end());
        std::printf("    the longest call delivered %ld messages (calls deliver %.0f in the median)\n",
                    library.delivered[std::size_t(slowest)], bench::median(counts));
    }
    std::printf("    bare reader calls:   longest %.2f ms processor time; wall time longest %.2f ms, %.2f ms of "
                "those not preempted, median %.2f ms; %ld of %zu calls preempted\n",
                longest(bareCalls.cpuMs), longest(bareCalls.wallMs), longestUnpreempted(bareCalls),
                bench::median(bareCalls.wallMs), long(preemptedCalls(bareCalls)), bareCalls.wallMs.size());
    std::printf("    (checksum %ld)\n", checksum);
    return 0;
}

} // namespace

int main(int argc, char** argv) // NOLINT(bugprone-exception-escape): a failure ends the run with its text
{
    if (argc == 3 && std::string(argv[1]) == "--far-end")
        return farEnd(std::atoi(argv[2]));
    if (argc == 5 && std::string(argv[1]) == "--sender")
        return sender(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    ::signal(SIGPIPE, SIG_IGN);
    // "flood" or "roundtrip" runs one part only.
    const std::string only = argc >= 2 ? argv[1] : "";
    if (argc == 3 && only == "flood")
        measuredTicks = std::max(1, std::atoi(argv[2]));
    if (only == "flood")
        return flood();

    std::printf("(a) request/reply round trip, %d of each in alternating blocks of %d, far ends in another "
                "process:\n",
                roundTrips, blockSize);
    const int here = sched_getcpu();
    struct Placement
    {
        const char* label;
        int nearCpu;
        int farCpu;
    };
    std::vector<Placement> placements = {{"one CPU", here, here}};
    if (std::thread::hardware_concurrency() >= 2)
        placements.push_back({"two CPUs", 0, 1});
    for (const Placement& p : placements) {
        const RoundTrip r = roundTrip(p.nearCpu, p.farCpu);
        const double goal = p.nearCpu == p.farCpu ? 1.3 : 1.05;
        std::printf("    %-9s wall: library %6.2f us, bare Asio %6.2f us, ratio %.3f (goal <= %.2f), "
                    "difference %+.2f us%s\n",
                    p.label, r.library, r.bare, r.library / r.bare, goal, r.library - r.bare,
                    r.failures ? "  REQUESTS FAILED" : "");
        std::printf("    %-9s processor time of both ends: library %6.2f us, bare Asio %6.2f us, ratio %.3f, "
                    "difference %+.2f us\n",
                    "", r.libraryCpu, r.bareCpu, r.libraryCpu / r.bareCpu, r.libraryCpu - r.bareCpu);
        std::printf("    %-9s system calls per round trip: library %.2f here + %.2f far end, bare Asio %.2f + %.2f\n",
                    "", r.libraryCalls, r.libraryFarCalls, r.bareCalls, r.bareFarCalls);
    }
    return only == "roundtrip" ? 0 : flood();
}
