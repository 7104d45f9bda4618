#pragma once

// Message-port library: the process-wide port of KelmDesk and its peers.
//
// A vmsgMsgPort is a message buffer and an endpoint. Values are pushed to build an
// outgoing message and popped, in order, from a received one. All network work, and
// every handler call, happens inside vmsgScheduler() on the calling thread.

#include "vmsg/Slot.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vmsg {
class Context;
struct Message;
struct Record;
class RecordBuffer;
} // namespace vmsg

// handle: connection handle; event > 0 log-on, 0 or -2 connection lost; user: the value given at registration.
using vmsgClientNotify = std::function<void(int handle, int event, long user)>;
class vmsgMsgPort;
// kind: the message kind; message: valid during the call only.
using vmsgNonReplyHandler = std::function<void(int kind, vmsgMsgPort* message)>;

class vmsgMsgPort
{
public:
    // A fresh, empty message for one request or send, on the process-wide context.
    vmsgMsgPort();
    // The same on another context (a program or test that holds several).
    explicit vmsgMsgPort(vmsg::Context& context);
    // Configures the process-wide port. mode 2 listens for clients on 127.0.0.1 (ephemeral port,
    // address published in the environment variable VMSG_ADDRESS); mode 1 listens on nothing.
    // maxMessage bounds every frame. The configuration outlives this object.
    vmsgMsgPort(int argc, char** argv, int maxMessage, int mode, int reserved, int flags);
    ~vmsgMsgPort();
    vmsgMsgPort(const vmsgMsgPort&) = delete;
    vmsgMsgPort& operator=(const vmsgMsgPort&) = delete;

    // Reports each client log-on and each lost connection, the kernel's included.
    void register_client_notify(vmsgClientNotify handler, long user);

    // Connects to the kernel at host, port base + instance (base: NORVEX_PORT_BASE, else 47100) and
    // logs on, waiting up to 2 s. Returns the handle, 0 on failure. One connection per service: a
    // second log_on of the same service first logs the old one off.
    int log_on(int service, int instance, const char* host, bool flag);
    // Closes the service's connection without a notification; what it had queued is dropped.
    void log_off(int service);

    void push(int value);
    void push(double value);
    void push(const char* text);
    void push(const std::vector<std::string>& strings);
    void push_divider();

    // Non-zero when the values from the read position on match the template
    // ("i" integer, "r" real, "s" string, "a" string array, "v" divider).
    int check_template(const char* templ) const;

    // Each pop skips dividers in front of its value ("rviv" is read as a real, then an integer),
    // returns non-zero on success and advances; on a type mismatch or at the end it
    // returns 0, leaves the read position and sets the value to the default (the string forms
    // give an empty text, and a count of 0 with an empty array). Texts are owned by the message.
    // The next value of a received message, when it has the type asked for, is taken inline.
    int pop(int& value, int defaultValue)
    {
        if (m_at == m_end || m_at->tag != 'i')
            return popMore(value, defaultValue);
        value = m_at++->integer;
        return 1;
    }
    int pop(double& value, int defaultValue)
    {
        if (m_at == m_end || m_at->tag != 'r')
            return popMore(value, defaultValue);
        value = m_at++->real;
        return 1;
    }
    int pop(char*& text, int, int)
    {
        if (m_at == m_end || m_at->tag != 's')
            return popMore(text);
        text = m_at++->text;
        return 1;
    }
    int pop(int& count, char**& strings, int defaultValue, int reserved);

    // Sends this message's values (none for the usual call) as kind to handle. Non-zero on success.
    int write(int handle, int kind, const char* text, int reserved, bool flag);

    // Of a received message: the handle it arrived on, its kind, and the sender's time stamp.
    int handle() const;
    int kind() const;
    double timeStamp() const;
    // Time stamp for outgoing messages (seconds); by default the sender's wall clock.
    void setTimeStamp(double t);

    // Internal: the message behind this port, and the context it works on. A received message is
    // read in place until this is called; from then on it is a Message like a built one.
    vmsg::Message& message();
    const vmsg::Message& message() const;
    vmsg::Context& context() const;

private:
    friend class vmsg::Context;
    // The values a write or request sends.
    const vmsg::Message& values() const;
    // Reads record from its first value on (null: none).
    void readRecord(vmsg::Record* record);
    // The pops' ways for what the inline ones leave: dividers, mismatches, a built message.
    int popMore(int& value, int defaultValue);
    int popMore(double& value, int defaultValue);
    int popMore(char*& text);

    std::unique_ptr<vmsg::Message> m_message; // built, or made from the received record; null: none yet
    std::unique_ptr<vmsgMsgPort> m_reply;
    std::unique_ptr<vmsg::RecordBuffer> m_replyRecord; // the memory of m_record when this port is a reply
    vmsg::Record* m_record = nullptr;                  // a received message, popped in place
    const vmsg::Slot* m_at = nullptr;                  // its next value
    const vmsg::Slot* m_end = nullptr;                 // behind its last
    vmsg::Context* m_context = nullptr;                // null: the process-wide context
    // What failed pops of texts hand out.
    char m_emptyText[1] = {};
    char* m_emptyArray[1] = {};
};

void vmsgRegisterNonReply(vmsgNonReplyHandler handler);
// With re-entrance off (on by default), a vmsgScheduler call made from inside a handler, such as
// the timer of a modal message box, returns 0 at once and leaves everything queued for later calls.
void vmsgSetSchedulerReentrant(bool reentrant);
// Does pending network work within a bounded time slice (about 4 ms) and calls the handlers, in
// arrival order. Returns the number of messages and notifications delivered. flags is not used.
int vmsgScheduler(int flags);
// Clients of the process-wide port closed at the handshake so far because their LogOn lacked the
// port secret (VMSG_SECRET). They are never reported as clients.
std::size_t vmsgRefusedLogOns();
// Sends port's values as kind to handle and waits up to wait units of 100 ms (20: 2 s) for the
// reply, delivering nothing else meanwhile. The reply is owned by port and stays valid until the
// port is destroyed or used for another request. Returns null when no reply came, at once for a
// handle that is not open, early when the connection is lost. text and callback are not used.
vmsgMsgPort* vmsgRequestBlock(vmsgMsgPort& port, int handle, int kind, const char* text, int wait, void* callback);
