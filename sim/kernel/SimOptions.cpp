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

namespace {

// One option of the command line as it is read: its name, a value given inline ("--speed=5"), and
// the arguments after it, from which a value switch takes the next one.
struct OptionReader
{
    const std::vector<std::string>& args;
    std::size_t& at;
    std::string name;
    std::optional<std::string> inlineValue;
    std::string& error;

    bool value(std::string& out)
    {
        if (inlineValue) {
            out = *inlineValue;
            return true;
        }
        if (at + 1 >= args.size())
            return false;
        out = args[++at];
        return true;
    }
    bool flag()
    {
        if (inlineValue) {
            error = "option " + name + " takes no value";
            return false;
        }
        return true;
    }
};

// Applies one option; false with the error set when it is unknown or its value is wrong.
bool applyOption(OptionReader& r, SimOptions& options)
{
    std::string v;
    if (r.name == "--help" || r.name == "-h") {
        if (!r.flag())
            return false;
        options.help = true;
    } else if (r.name == "--calendar") {
        if (!r.flag())
            return false;
        options.calendar = true;
    } else if (r.name == "--instance") {
        if (!r.value(v) || !parseInt(v, options.instance) || protocol::kernelPort(options.instance) == 0) {
            r.error = "--instance needs a number that gives a port from 1 to 65535";
            return false;
        }
    } else if (r.name == "--listen") {
        if (!r.value(v) || v.empty()) {
            r.error = "--listen needs an address";
            return false;
        }
        options.listenAddress = v;
    } else if (r.name == "--state") {
        if (!r.value(v) || (v != "none" && v != "running" && v != "paused")) {
            r.error = "--state needs none, running or paused";
            return false;
        }
        options.state = v == "none"      ? KernelState::NoModel
                        : v == "running" ? KernelState::Running
                                         : KernelState::Paused;
    } else if (r.name == "--speed") {
        if (!r.value(v) || !parseSpeed(v, options.speed)) {
            r.error = "--speed needs a number above 0";
            return false;
        }
    } else if (r.name == "--status-layout") {
        if (!r.value(v) || (v != "short" && v != "long")) {
            r.error = "--status-layout needs short or long";
            return false;
        }
        options.longStatus = v == "long";
    } else if (r.name == "--blocks") {
        if (!r.value(v) || !parseInt(v, options.blocks) || options.blocks < 0 || options.blocks > kMaxGeneratedBlocks) {
            r.error = "--blocks needs a number from 0 to " + std::to_string(kMaxGeneratedBlocks);
            return false;
        }
    } else if (r.name == "--tags") {
        if (!r.value(v) || !parseInt(v, options.tags) || options.tags < 0 || options.tags > kMaxGeneratedTags) {
            r.error = "--tags needs a number from 0 to " + std::to_string(kMaxGeneratedTags);
            return false;
        }
    } else {
        r.error = "unknown option " + r.args[r.at];
        return false;
    }
    return true;
}

} // namespace

std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& args, std::string& error)
{
    SimOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        OptionReader reader{args, i, args[i], std::nullopt, error};
        if (const std::size_t eq = reader.name.find('=');
            reader.name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            reader.inlineValue = reader.name.substr(eq + 1);
            reader.name.resize(eq);
        }
        if (!applyOption(reader, options))
            return std::nullopt;
    }
    return options;
}
