// Message-port figures against bare Asio over loopback, measured in the same run:
//  (a) request/reply round trip: vmsgRequestBlock against a blocking write/read of the same bytes,
//      alternating one of each; once with the threads free, once with all of them on one CPU (the
//      software cost, without the wake-up latency of an idle CPU, which dominates on some machines);
//  (b) a one-way flood read on 50 ms ticks: vmsgScheduler against a bare reader that drains its
//      socket on each tick, and the time of the single vmsgScheduler calls meanwhile.
// The other end of each connection runs on its own thread, as the kernel or a runner runs in its own
// process; the measuring side stays on the main thread.

#include "vmsg/Context.h"
#include "vmsg/Frame.h"
#include "vmsg/Peer.h"
#include "vmsg/vmsg.h"

#include <asio.hpp>

#ifdef __linux__
#include <sched.h>
#endif

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono;
using asio::ip::tcp;

namespace {

constexpr int roundTrips = 20000;
constexpr milliseconds tick{50};
constexpr int warmUpTicks = 4;
constexpr int measuredTicks = 100;

vmsg::Message blockList()
{
    vmsg::Message m;
    m.push(std::vector<std::string>{"FEED", "PUMP1", "PUMP2", "HX101", "COLUMN", "DRUM", "VALVE7", "SPLIT"});
    return m;
}

vmsg::Message listingLine()
{
    vmsg::Message m;
    m.push(10);
    m.push("after 00:00:10 set {FEED:F.t} = 312.5 // warm up");
    return m;
}

std::vector<std::uint8_t> bytesOf(vmsg::FrameType type, int kind, const vmsg::Message& m)
{
    std::vector<std::uint8_t> out;
    vmsg::encodeFrame(type, kind, 1, m, vmsg::wallClockNow(), vmsg::defaultMaxMessage, out);
    return out;
}

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? 0 : samples[samples.size() / 2];
}

std::uint32_t frameLength(const std::uint8_t* p)
{
    return (std::uint32_t(p[4]) << 24) | (std::uint32_t(p[5]) << 16) | (std::uint32_t(p[6]) << 8) | p[7];
}

void readFrame(tcp::socket& socket, std::vector<std::uint8_t>& buffer)
{
    buffer.resize(8);
    asio::read(socket, asio::buffer(buffer));
    const std::uint32_t length = frameLength(buffer.data());
    buffer.resize(length);
    asio::read(socket, asio::buffer(buffer.data() + 8, length - 8));
}

// Keeps the calling thread, and the threads it starts, on the CPU it runs on.
class OneCpu
{
public:
    explicit OneCpu(bool on)
    {
#ifdef __linux__
        m_on = on && sched_getaffinity(0, sizeof m_old, &m_old) == 0;
        if (m_on) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(sched_getcpu(), &one);
            sched_setaffinity(0, sizeof one, &one);
        }
#else
        (void)on;
#endif
    }
    ~OneCpu()
    {
#ifdef __linux__
        if (m_on)
            sched_setaffinity(0, sizeof m_old, &m_old);
#endif
    }
    OneCpu(const OneCpu&) = delete;
    OneCpu& operator=(const OneCpu&) = delete;

private:
#ifdef __linux__
    cpu_set_t m_old;
    bool m_on = false;
#endif
};

// ---- (a) round trip

struct RoundTrip
{
    double library = 0;
    double bare = 0;
    int failures = 0;
    std::size_t requestBytes = 0;
    std::size_t replyBytes = 0;
};

// Puts the calling thread on one CPU (Linux); false where that is not possible.
bool pinThisThread(int cpu)
{
#ifdef __linux__
    if (cpu >= CPU_SETSIZE)
        return false;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return sched_setaffinity(0, sizeof one, &one) == 0;
#else
    (void)cpu;
    return false;
#endif
}

// Where the threads run: as the scheduler likes, all on one CPU, or the measuring side on one CPU
// and both far ends on another, so that each pair pays the same cross-CPU wake-up.
enum class Placement { Free, OneCpu, TwoCpus };

RoundTrip roundTrip(Placement placement)
{
    const OneCpu pin(placement == Placement::OneCpu);
    const bool split = placement == Placement::TwoCpus;
    const OneCpu restore(split); // restores the main thread's affinity afterwards
    if (split)
        pinThisThread(0);

    // The kernel: a peer that answers every request with a block list.
    vmsg::Peer kernel;
    kernel.listen("127.0.0.1", 0);
    const vmsg::Message answer = blockList();
    kernel.setMessageHandler([&](vmsg::Message& m) {
        if (m.kind == 999)
            kernel.stop();
        else
            kernel.reply(m, answer);
    });
    std::thread kernelThread([&] {
        if (split)
            pinThisThread(1);
        kernel.run(seconds(1), nullptr);
    });

    // The bare server answers each frame with the same reply bytes.
    asio::io_context bareIo;
    tcp::acceptor bareAcceptor(bareIo, {asio::ip::make_address("127.0.0.1"), 0});
    RoundTrip figures;
    const std::vector<std::uint8_t> bareReply = bytesOf(vmsg::FrameType::Reply, 10, answer);
    std::thread bareThread([&] {
        if (split)
            pinThisThread(1);
        tcp::socket socket = bareAcceptor.accept();
        socket.set_option(tcp::no_delay(true));
        std::vector<std::uint8_t> buffer;
        asio::error_code ec;
        while (!ec) {
            buffer.resize(8);
            asio::read(socket, asio::buffer(buffer), ec);
            if (ec)
                break;
            const std::uint32_t length = frameLength(buffer.data());
            buffer.resize(length);
            asio::read(socket, asio::buffer(buffer.data() + 8, length - 8), ec);
            if (!ec)
                asio::write(socket, asio::buffer(bareReply), ec);
        }
    });

    ::setenv("NORVEX_PORT_BASE", std::to_string(kernel.localPort()).c_str(), 1);
    vmsgMsgPort logOn;
    const int handle = logOn.log_on(65536, 0, "127.0.0.1", true);
    tcp::socket bare(bareIo);
    bare.connect(bareAcceptor.local_endpoint());
    bare.set_option(tcp::no_delay(true));
    vmsg::Message query;
    query.push("$top");
    query.pushDivider();
    query.push("*");
    query.pushDivider();
    query.push(1);
    const std::vector<std::uint8_t> bareRequest = bytesOf(vmsg::FrameType::Data, 10, query);
    figures.requestBytes = bareRequest.size();
    figures.replyBytes = bareReply.size();
    std::vector<std::uint8_t> bareBuffer;

    std::vector<double> library;
    std::vector<double> baseline;
    for (int i = 0; i < roundTrips; ++i) {
        auto start = steady_clock::now();
        {
            vmsgMsgPort port; // as KelmDesk does it: a fresh port, pushes, request, pops
            port.push("$top");
            port.push_divider();
            port.push("*");
            port.push_divider();
            port.push(1);
            vmsgMsgPort* reply = vmsgRequestBlock(port, handle, 10, "   ", 20, nullptr);
            int count = 0;
            char** names = nullptr;
            if (!reply || !reply->pop(count, names, -99999, -1))
                ++figures.failures;
        }
        library.push_back(duration<double, std::micro>(steady_clock::now() - start).count());

        start = steady_clock::now();
        asio::write(bare, asio::buffer(bareRequest));
        readFrame(bare, bareBuffer);
        baseline.push_back(duration<double, std::micro>(steady_clock::now() - start).count());
    }

    vmsgMsgPort stop;
    stop.write(handle, 999, "   ", 0, true);
    bare.close();
    kernelThread.join();
    bareThread.join();
    logOn.log_off(65536);
    figures.library = median(library);
    figures.bare = median(baseline);
    return figures;
}

// ---- (b) one-way flood on ticks

struct Flood
{
    double rate = 0;         // messages per second over the measured ticks
    double perMessageNs = 0; // time inside the read calls per message
    std::vector<double> callsMs;
    std::vector<double> callsCpuMs; // the calling thread's processor time in each call
};

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Calls read on every tick and times each call; count is what read has taken so far, reset when the
// measured ticks begin.
template <class Read> Flood readOnTicks(Read read, long& count)
{
    Flood figures;
    double busy = 0;
    auto next = steady_clock::now();
    steady_clock::time_point measureStart;
    for (int t = 0; t < warmUpTicks + measuredTicks; ++t) {
        next += tick;
        std::this_thread::sleep_until(next);
        if (t == warmUpTicks) {
            count = 0;
            measureStart = steady_clock::now();
        }
        const double cpuStart = threadCpuMs();
        const auto start = steady_clock::now();
        read();
        const double took = duration<double, std::milli>(steady_clock::now() - start).count();
        if (t >= warmUpTicks) {
            figures.callsMs.push_back(took);
            figures.callsCpuMs.push_back(threadCpuMs() - cpuStart);
            busy += took;
        }
    }
    figures.rate = double(count) / duration<double>(steady_clock::now() - measureStart).count();
    figures.perMessageNs = count ? busy * 1e6 / double(count) : 0;
    return figures;
}

Flood libraryFlood()
{
    vmsgMsgPort setup(0, nullptr, 262144, 2, 0, 1);
    const std::string address = vmsg::Context::global().address();
    long delivered = 0;
    vmsgRegisterNonReply([&](int, vmsgMsgPort* m) {
        int line = 0;
        char* text = nullptr;
        if (m->pop(line, -99999) && m->pop(text, -99999, -1))
            ++delivered;
    });

    std::atomic<bool> connected{false};
    std::atomic<bool> stop{false};
    std::thread runnerThread([&] {
        vmsg::Peer runner;
        const int handle = runner.connect(address);
        connected = true;
        const vmsg::Message line = listingLine();
        while (handle && !stop) {
            while (runner.queuedBytes(handle) < 256 * 1024 && runner.send(handle, 506, line)) {
            }
            runner.flush(handle, milliseconds(5));
        }
    });
    while (!connected)
        vmsgScheduler(0);

    const Flood figures = readOnTicks([] { vmsgScheduler(8454144); }, delivered);
    stop = true;
    runnerThread.join();
    vmsgRegisterNonReply(nullptr);
    return figures;
}

Flood bareFlood()
{
    asio::io_context io;
    tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    std::atomic<bool> stop{false};
    const std::vector<std::uint8_t> frame = bytesOf(vmsg::FrameType::Data, 506, listingLine());
    std::thread senderThread([&, endpoint = acceptor.local_endpoint()] {
        asio::io_context senderIo;
        tcp::socket socket(senderIo);
        socket.connect(endpoint);
        socket.set_option(tcp::no_delay(true));
        std::vector<std::uint8_t> batch;
        for (int i = 0; i < 1000; ++i)
            batch.insert(batch.end(), frame.begin(), frame.end());
        asio::error_code ec;
        while (!stop && !ec)
            asio::write(socket, asio::buffer(batch), ec);
    });
    tcp::socket socket = acceptor.accept();
    socket.set_option(tcp::no_delay(true));
    socket.non_blocking(true);

    std::vector<std::uint8_t> buffer(64 * 1024);
    std::size_t held = 0;
    long frames = 0;
    auto drain = [&] {
        for (;;) {
            asio::error_code ec;
            const std::size_t n = socket.read_some(asio::buffer(buffer.data() + held, buffer.size() - held), ec);
            if (ec)
                return;
            held += n;
            std::size_t at = 0;
            while (held - at >= 8 && held - at >= frameLength(buffer.data() + at)) {
                at += frameLength(buffer.data() + at);
                ++frames;
            }
            std::copy(buffer.begin() + long(at), buffer.begin() + long(held), buffer.begin());
            held -= at;
        }
    };

    const Flood figures = readOnTicks(drain, frames);
    stop = true;
    socket.close();
    senderThread.join();
    return figures;
}

} // namespace

int main()
{
    std::printf("(a) request/reply round trip, %d of each, alternating, medians:\n", roundTrips);
    // With the threads free, whichever far end happens to share the main thread's CPU wins: a wake-up
    // on another, idle CPU costs tens of microseconds on a virtual machine. The split placement
    // gives both pairs the same cross-CPU path.
    const std::pair<Placement, const char*> placements[] = {
        {Placement::Free, "threads free:"}, {Placement::TwoCpus, "two CPUs:"}, {Placement::OneCpu, "on one CPU:"}};
    for (const auto& [placement, label] : placements) {
        if (placement == Placement::TwoCpus && std::thread::hardware_concurrency() < 2)
            continue;
        const RoundTrip r = roundTrip(placement);
        std::printf("    %-13s library %6.1f us, bare Asio %6.1f us, ratio %.2f (goal <= 1.5)%s\n", label, r.library,
                    r.bare, r.library / r.bare, r.failures ? "  REQUESTS FAILED" : "");
        if (placement == Placement::OneCpu)
            std::printf("    (%zu-byte request, %zu-byte reply)\n", r.requestBytes, r.replyBytes);
    }

    const Flood lib = libraryFlood();
    const Flood bare = bareFlood();
    const double longest = *std::max_element(lib.callsMs.begin(), lib.callsMs.end());
    const long over = std::count_if(lib.callsMs.begin(), lib.callsMs.end(), [](double ms) { return ms > 5.0; });
    std::printf("(b) unthrottled one-way flood of kind 506 lines, read every %lld ms for %d ticks:\n",
                static_cast<long long>(tick.count()), measuredTicks);
    std::printf("    library   %9.0f msg/s, %5.0f ns per message inside vmsgScheduler\n", lib.rate, lib.perMessageNs);
    std::printf("    bare Asio %9.0f msg/s, %5.0f ns per message, median drain %.2f ms\n", bare.rate, bare.perMessageNs,
                median(bare.callsMs));
    std::printf("    ratio %.3f (goal >= 0.5)\n", lib.rate / bare.rate);
    std::printf("    vmsgScheduler calls: median %.2f ms, longest %.2f ms, %ld of %zu over 5 ms (goal <= 5)\n",
                median(lib.callsMs), longest, over, lib.callsMs.size());
    std::printf("    processor time of the main thread in those calls: median %.2f ms, longest %.2f ms\n",
                median(lib.callsCpuMs), *std::max_element(lib.callsCpuMs.begin(), lib.callsCpuMs.end()));
    return 0;
}
