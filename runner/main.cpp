#include "runner/Runner.h"
#include "protocol/Address.h"

#include <csignal>
#include <cstdlib>
#include <iostream>

int main(int argc, char** argv)
{
    // A reader of standard output that goes away must not end the runner.
    std::signal(SIGPIPE, SIG_IGN);

    kelm::RunnerOptions options;
    std::string error;
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (!kelm::parseRunnerArguments(arguments, options, error)) {
        std::cerr << "kelm: " << error << "\n" << kelm::runnerUsage();
        return kelm::ExitCode::BadArguments;
    }
    if (options.help) {
        std::cout << kelm::runnerUsage();
        return kelm::ExitCode::Done;
    }
    const char* desk = std::getenv(protocol::addressVariable);
    kelm::Runner runner(options, desk ? desk : "", std::cout, std::cerr);
    return runner.exec();
}
