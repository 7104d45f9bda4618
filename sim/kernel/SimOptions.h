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
    int blocks = 0;          // generated blocks besides the built-in model
    int tags = 0;            // tags of each generated block at least (further real tags)
    bool help = false;
};

// Bounds of a generated model: every block list still fits in one reply frame.
constexpr int kMaxGeneratedBlocks = 20000;
constexpr int kMaxGeneratedTags = 100;

// Parses the arguments after the program name; "--name value" and "--name=value" both work.
// Nothing, with error set, on an unknown option, a missing or bad value, or an instance whose
// port (NORVEX_PORT_BASE + instance) is no TCP port.
std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& args, std::string& error);
const char* simUsage();
