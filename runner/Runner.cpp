#include "runner/Runner.h"

#include "runner/Interpreter.h"
#include "lang/Program.h"
#include "protocol/Address.h"
#include "protocol/KernelKind.h"
#include "protocol/KernelStatus.h"
#include "vmsg/Message.h"
#include "vmsg/Peer.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string_view>

#include <unistd.h>

namespace kelm {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kLogOnWait = 2s;
constexpr std::chrono::milliseconds kTick = 50ms;
// A KelmDesk that takes no output for this long counts as gone.
constexpr std::chrono::milliseconds kDeskDrainWait = 30s;
// Listing lines and console texts are cut to this many bytes, well inside a frame.
constexpr std::size_t kMaxText = kMaxShownText;
constexpr std::size_t kMaxKernelText = 500;

using protocol::KernelStatus;

// A received message as the protocol's status decoder reads it.
class MessageValues
{
public:
    explicit MessageValues(vmsg::Message& message) : m_message(message) {}
    bool layoutIs(const char* layout)
    {
        m_message.readPos = 0;
        return m_message.checkTemplate(layout);
    }
    bool popInt(int& value) { return m_message.pop(value); }
    bool popReal(double& value) { return m_message.pop(value); }
    bool popText()
    {
        std::string text;
        return m_message.pop(text);
    }

private:
    vmsg::Message& m_message;
};

std::optional<KernelStatus> decodeStatus(vmsg::Message& m)
{
    MessageValues values(m);
    return protocol::decodeStatus(values);
}

// The kernel's error reply is its code (below 0) and its words.
bool isErrorReply(const vmsg::Message& reply, int& code, std::string& text)
{
    if (reply.values.size() != 2)
        return false;
    const auto* c = std::get_if<std::int32_t>(&reply.values[0]);
    const auto* t = std::get_if<std::string>(&reply.values[1]);
    if (!c || !t || *c >= 0)
        return false;
    code = *c;
    text = displayText(*t, kMaxKernelText);
    return true;
}

// A console text without its line feed, made safe to show.
std::string consoleText(std::string_view text)
{
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    return displayText(text, kMaxText);
}

bool isPrefixFlag(const std::string& a)
{
    return a.size() > 1 && a[0] == '-';
}

class PeerKernel : public KernelPort
{
public:
    PeerKernel(vmsg::Peer& peer, int& handle, std::string& lostReason)
        : m_peer(peer), m_handle(handle), m_lostReason(lostReason)
    {
    }

    KernelReply read(const std::string& tag) override
    {
        vmsg::Message m;
        m.push(tag);
        return valueReply(ask(KernelKind::Read, m));
    }

    KernelReply write(const std::string& tag, double value) override
    {
        vmsg::Message m;
        m.push(tag);
        m.push(value);
        return valueReply(ask(KernelKind::Write, m));
    }

    KernelReply control(SendKind kind) override
    {
        return plainReply(ask(kind == SendKind::ModelRun ? KernelKind::Run : KernelKind::Freeze, vmsg::Message()));
    }

    KernelReply opcode(const std::string& name, const std::vector<std::string>& arguments) override
    {
        vmsg::Message m;
        m.push(name);
        for (const std::string& a : arguments)
            m.push(a);
        return plainReply(ask(KernelKind::Opcode, m));
    }

    std::unique_ptr<vmsg::Message> ask(int kind, const vmsg::Message& values)
    {
        if (m_handle == 0)
            return nullptr;
        std::unique_ptr<vmsg::Message> reply =
            m_peer.request(m_handle, kind, values, std::chrono::seconds(kKernelAnswerSeconds));
        if (!reply) {
            if (m_peer.isOpen(m_handle)) {
                // Open but silent: nothing more is asked of it.
                m_peer.close(m_handle);
                m_lostReason = "the kernel did not answer within " + std::to_string(kKernelAnswerSeconds) + " seconds";
            } else if (m_lostReason.empty()) {
                m_lostReason = "the connection was lost";
            }
            m_handle = 0;
        }
        return reply;
    }

private:
    KernelReply lost() const
    {
        return KernelReply::lost(m_lostReason.empty() ? std::string("the connection was lost") : m_lostReason);
    }

    KernelReply plainReply(const std::unique_ptr<vmsg::Message>& reply)
    {
        if (!reply)
            return lost();
        int code = 0;
        std::string text;
        if (isErrorReply(*reply, code, text))
            return KernelReply::failed(code, text);
        return KernelReply();
    }

    // A read or write answer: 0, the type, then the value (or an array's elements).
    KernelReply valueReply(std::unique_ptr<vmsg::Message> reply)
    {
        KernelReply r = plainReply(reply);
        if (r.status == KernelReply::Status::Ok && reply->values.size() == 3) {
            const vmsg::Value& v = reply->values[2];
            if (const auto* d = std::get_if<double>(&v))
                return KernelReply::number(*d);
            if (const auto* i = std::get_if<std::int32_t>(&v))
                return KernelReply::number(*i);
        }
        return r;
    }

    vmsg::Peer& m_peer;
    int& m_handle;
    std::string& m_lostReason;
};

} // namespace

bool instanceNumber(const std::string& text, int& number)
{
    std::string digits = text;
    const std::string prefix = protocol::instancePrefix;
    if (digits.compare(0, prefix.size(), prefix) == 0)
        digits = digits.substr(prefix.size());
    if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    number = std::stoi(digits);
    return true;
}

bool parseRunnerArguments(const std::vector<std::string>& arguments, RunnerOptions& options, std::string& error)
{
    bool switches = true;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= arguments.size()) {
                error = a + " needs a value";
                return false;
            }
            out = arguments[++i];
            return true;
        };
        if (switches && (a == "--help" || a == "-help" || a == "-h")) {
            options.help = true;
        } else if (switches && a == "-parse") {
            options.parse = true;
        } else if (switches && a == "-npstatus") {
            options.noStatus = true;
        } else if (switches && a == "-host") {
            if (!value(options.host))
                return false;
        } else if (switches && a == "-instance") {
            if (!value(options.instance))
                return false;
        } else if (switches && a == "--") {
            switches = false;
        } else if (switches && isPrefixFlag(a)) {
            error = "unknown switch " + a;
            return false;
        } else if (options.hasFile) {
            error = "only one program file can be given";
            return false;
        } else {
            options.file = a;
            options.hasFile = true;
        }
    }
    if (!options.help && !options.hasFile) {
        error = "no program file given";
        return false;
    }
    return true;
}

const char* runnerUsage()
{
    return "usage: kelm -parse [-npstatus] FILE\n"
           "       kelm [-npstatus] [-host HOST] [-instance norvex:N] FILE\n"
           "       kelm --help\n"
           "\n"
           "Checks a KELM program (-parse) or runs it against a simulation kernel.\n"
           "\n"
           "  -parse              check every line and report the first faulty one and how many\n"
           "                      there are; no kernel is needed\n"
           "  -host HOST          the kernel's host (default localhost)\n"
           "  -instance norvex:N  the kernel's instance N (default 0); it listens on port\n"
           "                      NORVEX_PORT_BASE + N\n"
           "  -npstatus           no console lines when the kernel starts, pauses or unloads\n"
           "  --help              this text\n"
           "\n"
           "Environment:\n"
           "  VMSG_ADDRESS        host:port of KelmDesk's message port; reports go there (a\n"
           "                      diagnostic, or a monitor window). Without it they go to standard\n"
           "                      output.\n"
           "  VMSG_SECRET         the secret KelmDesk's port asks of its clients (KelmDesk sets it\n"
           "                      with VMSG_ADDRESS); sent only to that port\n"
           "  NORVEX_PORT_BASE    base of the kernels' ports (default 47100)\n"
           "\n"
           "Exit status: 0 clean program or run finished (or stopped), 1 faulty program (-parse),\n"
           "2 unreadable file, 3 kernel not reached or lost, 4 KelmDesk not reached or gone,\n"
           "5 wrong command line.\n";
}

// The most tags a LiveWhen names.
constexpr std::size_t kMaxLiveTags = 1000;

vmsg::Message deskMessage(const Report& r)
{
    vmsg::Message m;
    switch (r.kind) {
    case ClientMessageKind::PrintText:
        m.push(consoleText(r.text) + "\n");
        break;
    case ClientMessageKind::ProgramName:
        m.push(displayText(r.text, kMaxText));
        break;
    case ClientMessageKind::ListingLine:
        m.push(r.line);
        m.push(displayText(r.text, kMaxText));
        break;
    case ClientMessageKind::MonitorOpen:
        // So that KelmDesk, which started this process, can end it when it does not answer a Stop.
        m.push(static_cast<int>(::getpid()));
        break;
    case ClientMessageKind::LineCurrent:
    case ClientMessageKind::LineHighlight:
        m.push(r.line);
        break;
    case ClientMessageKind::LineStamp:
        m.push(r.line);
        m.push(r.status);
        break;
    case ClientMessageKind::LiveClock:
        m.push(r.values.empty() ? 0.0 : r.values[0]);
        m.push(r.status);
        break;
    case ClientMessageKind::LiveWhen:
        m.push(r.line);
        m.push(r.status);
        // A frame holds at most 4096 values.
        for (std::size_t i = 0; i < r.tags.size() && i < r.values.size() && i < kMaxLiveTags; ++i) {
            m.push(displayText(r.tags[i], kMaxText));
            m.push(r.values[i]);
        }
        break;
    case ClientMessageKind::LiveDue:
    case ClientMessageKind::LiveRamp:
    case ClientMessageKind::LiveWritten:
        m.push(r.line);
        for (double v : r.values)
            m.push(v);
        break;
    case ClientMessageKind::LiveNotFired:
        for (int line : r.lines)
            m.push(line);
        break;
    default:
        break;
    }
    m.setTimeStamp(r.time);
    return m;
}

class Runner::Impl : public Reporter
{
public:
    Impl(RunnerOptions options, std::string deskAddress, std::ostream& out, std::ostream& err)
        : m_options(std::move(options)), m_deskAddress(std::move(deskAddress)), m_out(out), m_err(err),
          m_kernelPort(m_peer, m_kernel, m_kernelLost)
    {
        m_peer.setConnectionHandler([this](int handle, int event) {
            if (event == vmsg::eventLoggedOn)
                return;
            if (handle == m_kernel && m_kernel != 0) {
                if (m_kernelLost.empty())
                    m_kernelLost = event == vmsg::eventClosed ? "the kernel closed the connection"
                                                              : "the connection to the kernel failed";
            } else if (handle == m_desk && m_desk != 0) {
                m_deskGone = true;
            }
        });
        m_peer.setMessageHandler([this](vmsg::Message& m) {
            if (m.handle == m_kernel && m.kind == KernelKind::Status && m.requestId == 0) {
                if (const std::optional<KernelStatus> s = decodeStatus(m))
                    m_status = *s;
            } else if (m.handle == m_desk && m.kind == ClientMessageKind::StopRequest) {
                m_stopRequested = true;
            }
        });
        std::error_code ec;
        m_path = m_options.file;
        if (!m_path.empty()) {
            const std::filesystem::path absolute = std::filesystem::absolute(m_path, ec);
            if (!ec)
                m_path = absolute.string();
        }
        m_name = fileNameOf(m_options.file);
    }

    int exec() { return m_options.parse ? parse() : run(); }

    void report(const Report& r) override
    {
        if (m_desk != 0)
            toDesk(r);
        else if (!m_deskGone && m_deskAddress.empty())
            toOutput(r);
    }

private:
    int parse()
    {
        Program program;
        std::string error;
        if (!loadProgram(m_options.file, program, error)) {
            diagnostic(-1, unreadable(error));
            return ExitCode::Unreadable;
        }
        const ParseReport result = parseReport(m_name, program);
        diagnostic(result.line, result.text);
        return program.faults.empty() ? ExitCode::Done : ExitCode::Faulty;
    }

    std::string unreadable(const std::string& reason) const { return unreadableText(m_name, reason); }

    // The one diagnostic of a parse or of an unreadable file; on standard output when KelmDesk is not
    // there.
    void diagnostic(int line, const std::string& text)
    {
        const std::string shown = displayText(text, kMaxText);
        if (!m_deskAddress.empty() && connectDesk()) {
            vmsg::Message m;
            m.push(displayText(m_path, kMaxText));
            m.push(line);
            m.push(shown);
            sendToDesk(ClientMessageKind::FileDiagnostic, m);
            closeDesk();
            return;
        }
        m_out << shown << std::endl;
    }

    bool connectDesk()
    {
        m_desk = m_peer.connect(m_deskAddress, kLogOnWait, 1);
        if (m_desk == 0)
            m_err << "kelm: cannot reach KelmDesk at " << m_deskAddress << std::endl;
        return m_desk != 0;
    }

    void closeDesk()
    {
        if (m_desk == 0)
            return;
        m_peer.flush(m_desk, kDeskDrainWait);
        m_peer.close(m_desk);
        m_desk = 0;
    }

    // A full output queue waits for KelmDesk to read; one that never drains, or a closed connection,
    // means KelmDesk is gone and nothing more is written.
    void sendToDesk(int kind, const vmsg::Message& m)
    {
        if (m_desk == 0)
            return;
        if (m_peer.send(m_desk, kind, m))
            return;
        if (m_peer.isOpen(m_desk) && m_peer.flush(m_desk, kDeskDrainWait) && m_peer.send(m_desk, kind, m))
            return;
        deskGone();
    }

    void deskGone()
    {
        if (m_desk != 0)
            m_peer.close(m_desk);
        m_desk = 0;
        m_deskGone = true;
    }

    void toDesk(const Report& r) { sendToDesk(r.kind, deskMessage(r)); }

    void toOutput(const Report& r)
    {
        const std::string t = "[" + formatKernelTime(r.time, vmsg::wallClockNow()) + "] ";
        switch (r.kind) {
        case ClientMessageKind::ProgramName:
            m_out << "Program " << r.text << std::endl;
            break;
        case ClientMessageKind::ListingLine:
            m_listing[r.line] = r.text;
            break;
        case ClientMessageKind::ExecutionStarted:
            m_out << t << "--- Started execution ---" << std::endl;
            break;
        case ClientMessageKind::ExecutionFinished:
            m_out << t << "--- Finished normally ---" << std::endl;
            break;
        case ClientMessageKind::PrintText:
            m_out << t << consoleText(r.text) << std::endl;
            break;
        case ClientMessageKind::LineCurrent:
            m_out << t << "Line " << r.line << ": " << displayText(m_listing[r.line], kMaxText) << std::endl;
            break;
        case ClientMessageKind::LineStamp:
            m_out << t << "Line " << r.line << ' '
                  << (r.status == StampStatus::Done     ? "done"
                      : r.status == StampStatus::Active ? "under way"
                                                        : "failed")
                  << std::endl;
            break;
        default:
            break;
        }
    }

    void emit(int kind, int line = 0, std::string text = std::string())
    {
        Report r;
        r.kind = kind;
        r.line = line;
        r.text = std::move(text);
        r.time = m_status.time;
        report(r);
    }

    // Monitor, program name, the listing from line 1 and the view back at its top.
    void openMonitor(const Program& program)
    {
        emit(ClientMessageKind::MonitorOpen);
        emit(ClientMessageKind::ProgramName, 0, m_name);
        for (std::size_t i = 0; i < program.lines.size() && !m_deskGone; ++i)
            emit(ClientMessageKind::ListingLine, int(i + 1), program.lines[i]);
        emit(ClientMessageKind::ListingTop);
    }

    // Logs on to the kernel and asks its status; the reason when that fails.
    std::string logOnKernel()
    {
        int instance = 0;
        const int port = instanceNumber(m_options.instance, instance) ? protocol::kernelPort(instance) : 0;
        if (port == 0)
            return "Cannot log on: the instance \"" + displayText(m_options.instance, 100) +
                   "\" does not name a kernel.";
        const std::string where = "kernel " + displayText(m_options.instance, 100) + " on " +
                                  displayText(m_options.host, 200) + " (port " + std::to_string(port) + ")";
        m_kernel = m_peer.connect(m_options.host, port, kLogOnWait, 1);
        if (m_kernel == 0)
            return "Cannot log on to the " + where + ".";
        std::unique_ptr<vmsg::Message> reply = m_kernelPort.ask(KernelKind::Status, vmsg::Message());
        std::optional<KernelStatus> status = reply ? decodeStatus(*reply) : std::nullopt;
        if (!status) {
            if (m_kernel != 0)
                m_peer.close(m_kernel);
            m_kernel = 0;
            return "The " + where + " does not report its status.";
        }
        m_status = *status;
        return std::string();
    }

    int run()
    {
        Program program;
        std::string error;
        if (!loadProgram(m_options.file, program, error)) {
            diagnostic(-1, unreadable(error));
            return ExitCode::Unreadable;
        }
        const std::string kernelProblem = logOnKernel();
        if (!m_deskAddress.empty() && !connectDesk()) {
            if (m_kernel != 0)
                m_peer.close(m_kernel);
            return ExitCode::DeskLost;
        }
        openMonitor(program);
        if (!kernelProblem.empty()) {
            emit(ClientMessageKind::PrintText, 0, kernelProblem + "\n");
            closeDesk();
            return ExitCode::KernelLost;
        }

        Interpreter interpreter(program, m_kernelPort, *this);
        m_interpreter = &interpreter;
        interpreter.setStateLines(!m_options.noStatus);
        interpreter.setLiveReports(true);
        // A Stop pressed while the monitor was opening ends the run before anything fires.
        m_peer.poll(std::chrono::milliseconds(0));
        if (m_stopRequested)
            interpreter.stopByRequest();
        m_lastPoll = vmsg::wallClockNow();
        interpreter.start(m_status.time, m_status.state, m_lastPoll);
        if (!interpreter.ended() && !m_deskGone)
            m_peer.run(kTick, [this] { tick(); });
        m_interpreter = nullptr;

        if (m_kernel != 0)
            m_peer.close(m_kernel);
        if (m_deskGone) {
            m_err << "kelm: KelmDesk went away; " << m_name << " ends" << std::endl;
            return ExitCode::DeskLost;
        }
        closeDesk();
        return interpreter.finished() ? ExitCode::Done : ExitCode::KernelLost;
    }

    void tick()
    {
        Interpreter& interpreter = *m_interpreter;
        const double wall = vmsg::wallClockNow();
        if (!m_deskGone && m_kernelLost.empty() && !m_stopRequested && wall - m_lastPoll >= kStatusPollInterval) {
            m_lastPoll = wall;
            std::unique_ptr<vmsg::Message> reply = m_kernelPort.ask(KernelKind::Status, vmsg::Message());
            if (reply) {
                if (const std::optional<KernelStatus> s = decodeStatus(*reply))
                    m_status = *s;
            }
        }
        if (m_deskGone) {
            m_peer.stop();
            return;
        }
        if (!m_kernelLost.empty()) {
            interpreter.kernelLost(m_kernelLost);
        } else if (m_stopRequested) {
            interpreter.stopByRequest();
        } else {
            interpreter.update(m_status.time, m_status.state, wall);
        }
        if (m_deskGone || interpreter.ended())
            m_peer.stop();
    }

    RunnerOptions m_options;
    std::string m_deskAddress;
    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_path;
    std::string m_name;
    vmsg::Peer m_peer;
    int m_kernel = 0;
    int m_desk = 0;
    std::string m_kernelLost;
    bool m_deskGone = false;
    bool m_stopRequested = false;
    KernelStatus m_status;
    double m_lastPoll = 0.0;
    PeerKernel m_kernelPort;
    Interpreter* m_interpreter = nullptr;
    std::map<int, std::string> m_listing;
};

Runner::Runner(RunnerOptions options, std::string deskAddress, std::ostream& out, std::ostream& err)
    : m_impl(std::make_unique<Impl>(std::move(options), std::move(deskAddress), out, err))
{
}

Runner::~Runner() = default;

int Runner::exec()
{
    return m_impl->exec();
}

} // namespace kelm
