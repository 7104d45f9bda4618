#pragma once

#include "sim/kernel/SimClock.h"

#include <optional>
#include <string>
#include <vector>

struct SimOptions
{
    int instance = 0;
    std::string listenAddress = "127.0.0.1";
    KernelState state = KernelState::Running;
    bool calendar = false;
    double speed = 1.0;
    bool longStatus = false; // status layout "ivsvrviv" instead of "rviv"
    bool help = false;
};

// Parses the arguments after the program name; "--name value" and "--name=value" both work.
// Nothing, with error set, on an unknown option, a missing or bad value, or an instance whose
// port (NORVEX_PORT_BASE + instance) is no TCP port.
std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& args, std::string& error);
const char* simUsage();
