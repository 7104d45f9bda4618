#include "sim/kernel/SimOptions.h"

#include "protocol/Address.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

bool parseInt(const std::string& text, int& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < -65535 || v > 65535)
        return false;
    value = int(v);
    return true;
}

bool parseSpeed(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v) || v <= 0.0 || v > 1e6)
        return false;
    value = v;
    return true;
}

} // namespace

const char* simUsage()
{
    return "usage: norvexsim [options]\n"
           "  --instance N          listen on port NORVEX_PORT_BASE + N (default base 47100, N 0)\n"
           "  --listen ADDRESS      numeric address to listen on (default 127.0.0.1)\n"
           "  --state STATE         none, running or paused at start (default running)\n"
           "  --calendar            the clock starts at the wall-clock time instead of 0\n"
           "  --speed X             simulated seconds per real second (default 1)\n"
           "  --status-layout L     short (\"rviv\") or long (\"ivsvrviv\") status (default short)\n"
           "  --blocks N            generate N more blocks in lines of six (at most 20000)\n"
           "  --tags T              give each generated block T tags at least (at most 100)\n"
           "  --help                this text\n"
           "SIGUSR1 runs the model, SIGUSR2 freezes it; SIGINT and SIGTERM end the simulator.\n";
}

std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& args, std::string& error)
{
    SimOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = name.find('='); name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        const auto value = [&](std::string& out) {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        const auto flag = [&] {
            if (inlineValue) {
                error = "option " + name + " takes no value";
                return false;
            }
            return true;
        };
        std::string v;
        if (name == "--help" || name == "-h") {
            if (!flag())
                return std::nullopt;
            options.help = true;
        } else if (name == "--calendar") {
            if (!flag())
                return std::nullopt;
            options.calendar = true;
        } else if (name == "--instance") {
            if (!value(v) || !parseInt(v, options.instance) || protocol::kernelPort(options.instance) == 0) {
                error = "--instance needs a number that gives a port from 1 to 65535";
                return std::nullopt;
            }
        } else if (name == "--listen") {
            if (!value(v) || v.empty()) {
                error = "--listen needs an address";
                return std::nullopt;
            }
            options.listenAddress = v;
        } else if (name == "--state") {
            if (!value(v) || (v != "none" && v != "running" && v != "paused")) {
                error = "--state needs none, running or paused";
                return std::nullopt;
            }
            options.state = v == "none"      ? KernelState::NoModel
                            : v == "running" ? KernelState::Running
                                             : KernelState::Paused;
        } else if (name == "--speed") {
            if (!value(v) || !parseSpeed(v, options.speed)) {
                error = "--speed needs a number above 0";
                return std::nullopt;
            }
        } else if (name == "--status-layout") {
            if (!value(v) || (v != "short" && v != "long")) {
                error = "--status-layout needs short or long";
                return std::nullopt;
            }
            options.longStatus = v == "long";
        } else if (name == "--blocks") {
            if (!value(v) || !parseInt(v, options.blocks) || options.blocks < 0 ||
                options.blocks > kMaxGeneratedBlocks) {
                error = "--blocks needs a number from 0 to " + std::to_string(kMaxGeneratedBlocks);
                return std::nullopt;
            }
        } else if (name == "--tags") {
            if (!value(v) || !parseInt(v, options.tags) || options.tags < 0 || options.tags > kMaxGeneratedTags) {
                error = "--tags needs a number from 0 to " + std::to_string(kMaxGeneratedTags);
                return std::nullopt;
            }
        } else {
            error = "unknown option " + args[i];
            return std::nullopt;
        }
    }
    return options;
}
