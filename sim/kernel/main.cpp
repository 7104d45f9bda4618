#include "sim/kernel/KernelServer.h"
#include "sim/kernel/KernelService.h"
#include "sim/kernel/SimLog.h"
#include "sim/kernel/SimOptions.h"
#include "protocol/Address.h"

#include <unistd.h>

#include <csignal>
#include <iostream>

namespace {

volatile std::sig_atomic_t s_stop = 0;
volatile std::sig_atomic_t s_run = 0;
volatile std::sig_atomic_t s_freeze = 0;

extern "C" void onSignal(int signal)
{
    if (signal == SIGUSR1)
        s_run = 1;
    else if (signal == SIGUSR2)
        s_freeze = 1;
    else
        s_stop = 1;
}

void installSignals()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace

int main(int argc, char** argv)
{
    std::string error;
    const std::optional<SimOptions> options = parseSimOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "norvexsim: " << error << '\n' << simUsage();
        return 2;
    }
    if (options->help) {
        std::cout << simUsage();
        return 0;
    }
    installSignals();

    // Standard error may be a pipe nobody reads: the log is written from a thread of its own, and
    // lines it cannot take are left out and counted.
    LogWriter writer(STDERR_FILENO);
    KernelService service(*options, vmsg::wallClockNow());
    KernelServer server(service, writer.sink());
    const int port = protocol::kernelPort(options->instance);
    if (!server.listen(options->listenAddress, port)) {
        server.log().notice("cannot listen on " + options->listenAddress + ':' + std::to_string(port));
        return 1;
    }
    server.log().notice("instance " + std::to_string(options->instance) + " listening on " + options->listenAddress +
                        ':' + std::to_string(server.localPort()));

    server.run(std::chrono::milliseconds(50), [&server] {
        if (s_run) {
            s_run = 0;
            server.control(KernelKind::Run);
        }
        if (s_freeze) {
            s_freeze = 0;
            server.control(KernelKind::Freeze);
        }
        return s_stop == 0;
    });
    server.log().flush(SimLog::Clock::now() + std::chrono::hours(1));
    server.log().notice("stopped");
    return 0;
}
