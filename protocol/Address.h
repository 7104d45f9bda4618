#pragma once

// The port and address rules shared by KelmDesk, the runner and the kernel simulator.

#include <string>

namespace protocol {

// Kernel ports are base + instance; the base comes from NORVEX_PORT_BASE.
constexpr int defaultPortBase = 47100;
constexpr const char* portBaseVariable = "NORVEX_PORT_BASE";
// A kernel instance as the runner's -instance switch names it: "norvex:N".
constexpr const char* instancePrefix = "norvex:";

// NORVEX_PORT_BASE when it is a number from 1 to 65535, else defaultPortBase.
int kernelPortBase();
// base + instance, or 0 when that is not a valid TCP port (1..65535).
int kernelPort(int instance);

// "localhost" in any case: loopback, without a name lookup.
bool isLocalhost(const std::string& host);

// Splits "host:port" (also "[v6addr]:port"). False when the port is missing or not 1..65535.
bool splitHostPort(const std::string& hostPort, std::string& host, int& port);

// The environment variable in which the own port publishes "127.0.0.1:PORT".
constexpr const char* addressVariable = "VMSG_ADDRESS";

} // namespace protocol
