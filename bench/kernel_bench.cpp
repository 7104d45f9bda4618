// Kernel log-on figures against the bare library, measured in the same run, with the simulator's
// server on its own thread (as the kernel runs in its own process):
//  (a) LogOnKernel from the call to the decoded status in the panes (log-off, connect, log-on
//      handshake, status request, decoding), against the same steps done with the library alone;
//  (b) one status request answered and decoded by KelmDesk against the bare vmsgRequestBlock.

#include "app/CKelmDeskApp.h"
#include "bench/KernelThread.h"
#include "framework/CStatusBar.h"
#include "kernel/KernelConnection.h"
#include "kernel/KernelTime.h"
#include "res/Resource.h"
#include "vmsg/vmsg.h"

#include <QApplication>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace std::chrono;

namespace {

constexpr int logOns = 400;
constexpr int requests = 5000;
constexpr int kernelService = 65536;

double median(std::vector<double>& samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double micros(steady_clock::time_point start)
{
    return duration<double, std::micro>(steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true); // leaves the user's settings alone
    QApplication qapp(argc, argv);
    CKelmDeskApp app;
    if (!app.initInstance({QStringLiteral("kernel_bench")}))
        return 1;
    KernelThread kernel;
    ::setenv("NORVEX_PORT_BASE", std::to_string(kernel.port()).c_str(), 1);
    CStatusBar* bar = app.statusBar();

    std::vector<double> desk, bare;
    int failures = 0;
    for (int i = 0; i < logOns; ++i) {
        bar->SetPaneText(Pane::KernelState, QString());
        auto start = steady_clock::now();
        if (!LogOnKernel(QStringLiteral("127.0.0.1"), 0, false) || bar->paneText(Pane::KernelState) != "Running")
            ++failures;
        desk.push_back(micros(start));

        // The library alone: log off, log on, ask for the status and pop it.
        start = steady_clock::now();
        {
            vmsgMsgPort port;
            port.log_off(kernelService);
            const int handle = port.log_on(kernelService, 0, "127.0.0.1", false);
            double t = 0;
            vmsgMsgPort* reply = handle ? vmsgRequestBlock(port, handle, 32, "   ", 20, nullptr) : nullptr;
            if (!reply || !reply->pop(t, -99999))
                ++failures;
        }
        bare.push_back(micros(start));
        app.kernelHandle = 0; // the bare log-on replaced the desk's connection
    }
    const double deskLogOn = median(desk);
    const double bareLogOn = median(bare);

    LogOnKernel(QStringLiteral("127.0.0.1"), 0, false);
    const int handle = GetKernelHandle();
    desk.clear();
    bare.clear();
    for (int i = 0; i < requests; ++i) {
        auto start = steady_clock::now();
        {
            vmsgMsgPort port;
            if (vmsgMsgPort* reply = vmsgRequestBlock(port, handle, 32, "   ", 20, nullptr))
                DecodeKernelStatus(32, reply);
            else
                ++failures;
        }
        desk.push_back(micros(start));

        start = steady_clock::now();
        {
            vmsgMsgPort port;
            if (!vmsgRequestBlock(port, handle, 32, "   ", 20, nullptr))
                ++failures;
        }
        bare.push_back(micros(start));
    }
    const double deskStatus = median(desk);
    const double bareStatus = median(bare);

    std::printf("(a) LogOnKernel to the decoded status, %d each:\n", logOns);
    std::printf("    KelmDesk median %.1f us, library alone median %.1f us, ratio %.2f%s\n", deskLogOn, bareLogOn,
                deskLogOn / bareLogOn, failures ? " FAILURES" : "");
    std::printf("(b) status request with decoding and panes, %d each:\n", requests);
    std::printf("    KelmDesk median %.1f us, bare vmsgRequestBlock median %.1f us, ratio %.2f%s\n", deskStatus,
                bareStatus, deskStatus / bareStatus, failures ? " FAILURES" : "");
    return failures ? 1 : 0;
}
