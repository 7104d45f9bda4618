#pragma once

// The runner's command line and its two ways of working: checking a program (-parse) and running it
// against a kernel, reporting to KelmDesk over the message port (VMSG_ADDRESS) or, without it, on
// standard output.

#include "protocol/Address.h"
#include "vmsg/Message.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace kelm {

namespace ExitCode {
enum : int {
    Done = 0,        // parse: no errors; run: finished normally or stopped
    Faulty = 1,      // parse: the program has faulty lines
    Unreadable = 2,  // the program file cannot be read
    KernelLost = 3,  // the kernel cannot be reached, or was lost during the run
    DeskLost = 4,    // KelmDesk cannot be reached, or went away during the run
    BadArguments = 5 // the command line is wrong
};
} // namespace ExitCode

struct RunnerOptions
{
    bool help = false;
    bool parse = false;
    bool noStatus = false; // -npstatus: no console lines for the kernel's state changes
    std::string host = "localhost";
    std::string instance = std::string(protocol::instancePrefix) + "0";
    std::string file;
    bool hasFile = false;
};

// Reads the arguments after argument 0. Every value switch takes the next argument whole, whatever
// it begins with. False with a message on a wrong command line.
bool parseRunnerArguments(const std::vector<std::string>& arguments, RunnerOptions& options, std::string& error);

const char* runnerUsage();

struct Report;
// The message a report makes for KelmDesk, values and time stamp (its kind is report.kind).
vmsg::Message deskMessage(const Report& report);

// The instance number of an instance text "norvex:N" or "N"; false when it is neither.
bool instanceNumber(const std::string& text, int& number);

// How often the runner asks the kernel for its status while running (wall seconds).
constexpr double kStatusPollInterval = 0.25;
// How long the runner waits for one answer of the kernel before it counts the kernel as lost.
constexpr int kKernelAnswerSeconds = 5;

class Runner
{
public:
    // deskAddress: "host:port" of KelmDesk's port, empty for standard output.
    Runner(RunnerOptions options, std::string deskAddress, std::ostream& out, std::ostream& err);
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // Does the work and returns the exit status.
    int exec();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace kelm
