#pragma once

#include "vmsg/Message.h"
#include "vmsg/Node.h"
#include "vmsg/Record.h"
#include "vmsg/vmsg.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace vmsg {

// The state behind the process-wide functions of vmsg.h: the own port, the connections, the
// handlers and the queue of undelivered notifications and messages. The free functions use
// global(); a program or test may hold further contexts, e.g. both ends of a connection.
//
// Nothing is delivered outside scheduler(): messages and notifications that arrive during a
// blocking call (logOn, requestBlock) wait in the queue, in arrival order.
class Context final : private Node::Events
{
public:
    using Clock = std::chrono::steady_clock;

    // One unit of requestBlock's wait.
    static constexpr std::chrono::milliseconds waitUnit{100};
    // Time budget of one scheduler() call.
    static constexpr std::chrono::microseconds schedulerBudget{4000};
    // Reading a connection pauses while this much of it is undelivered, and resumes at half. Bytes
    // are those the decoded values hold (Message::valueBytes).
    static constexpr std::size_t pauseMessages = 4096;
    static constexpr std::size_t pauseBytes = 1024 * 1024;
    // Reading of all connections pauses while this much is undelivered in all, and resumes at half;
    // a connection on which a blocking request waits reads on up to its own bound.
    static constexpr std::size_t pauseTotalBytes = 16 * 1024 * 1024;

    Context();
    // Shares io with other endpoints, so that one thread can drive both ends (tests, benchmarks).
    explicit Context(asio::io_context& io);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    static Context& global();
    asio::io_context& ioContext();

    // mode 2: listen on 127.0.0.1, ephemeral port, admit only clients that present the process's port
    // secret, and publish VMSG_ADDRESS and VMSG_SECRET; mode 1 (or other): listen on nothing. maxMessage <= 0 keeps
    // defaultMaxMessage.
    void configure(int maxMessage, int mode);
    // "127.0.0.1:PORT" while listening, else empty.
    std::string address() const;

    void registerClientNotify(vmsgClientNotify handler, long user);
    void registerNonReply(vmsgNonReplyHandler handler);
    void setSchedulerReentrant(bool reentrant);
    int scheduler(int flags);

    int logOn(int service, int instance, const char* host, bool flag);
    void logOff(int service);
    int write(int handle, int kind, const Message& values);
    vmsgMsgPort* requestBlock(vmsgMsgPort& port, int handle, int kind, int wait);

    bool isOpen(int handle) const;
    // Notifications and messages waiting for scheduler().
    std::size_t queued() const { return m_inbox.size(); }
    // The bytes the values of the queued messages hold.
    std::size_t queuedBytes() const { return m_queuedBytes; }

    // Bounds other than the defaults, for tests.
    void setPauseLimits(std::size_t messages, std::size_t bytes, std::size_t totalBytes);
    void setConnectionLimits(const Node::Limits& limits);
    // Host names handed to the system's resolver so far.
    std::size_t nameLookups() const { return m_node->nameLookups(); }
    // Clients closed at the handshake for lacking the port secret, so far.
    std::size_t refusedLogOns() const { return m_node->refusedLogOns(); }

private:
    struct Flow
    {
        std::size_t messages = 0;
        std::size_t bytes = 0;
        bool paused = false; // over its own bound
        bool reading = true; // as last told to the node
        bool waited = false; // a blocking request waits on it, as of the last updateFlow
        // Where a paused flow resumes, as of the last updateFlow (it changes only with the waiters).
        std::size_t resumeMessages = pauseMessages / 2;
        std::size_t resumeBytes = pauseBytes / 2;
    };
    struct Waiter
    {
        int handle = 0;
        std::uint32_t requestId = 0;
        bool lost = false;
        bool replied = false;
        RecordBuffer* reply = nullptr; // where the reply is decoded
    };
    class SchedulerGuard;
    class Turn;

    void clientLoggedOn(Connection& connection) override;
    void framesArrived(Connection& connection) override;
    // Each false when the frame was malformed (the connection is closed then).
    bool deliverNow(Connection& connection, std::uint8_t* frame);
    bool enqueue(Connection& connection, const std::uint8_t* frame);
    bool replyReceived(Connection& connection, const std::uint8_t* frame);
    void connectionLost(int handle, int event) override;

    void notify(int handle, int event);
    // Delivers queued records until none is left (true) or the turn's time is up (false).
    bool deliverQueued(Turn& turn);
    void deliverQueuedRecord(Turn& turn, Record& record);
    void deliverMessage(Turn& turn, Record& record);
    // Takes a handler registered meanwhile, and drops the message a handler made of the port.
    void renewTurn(Turn& turn);
    Flow& flowOf(int handle);
    void updateFlow(int handle);
    void eraseFlow(int handle);
    // Pauses or resumes the reading of all connections as the total crosses its marks.
    void updateTotal();
    void forget(int handle);

    std::unique_ptr<Node> m_node;
    std::string m_address;
    std::shared_ptr<const vmsgClientNotify> m_clientNotify;
    long m_clientNotifyUser = 0;
    std::shared_ptr<const vmsgNonReplyHandler> m_nonReply;
    bool m_reentrant = true;
    int m_schedulerDepth = 0;
    // Notifications and decoded messages, in arrival order.
    Inbox m_inbox;
    // While the scheduler reads: its turn, so that a message that nothing waits before goes to its
    // handler at once, decoded into m_direct (busy while that handler runs).
    Turn* m_turn = nullptr;
    RecordBuffer m_direct;
    bool m_directBusy = false;
    int m_directHandle = 0; // whose message that is
    std::unordered_map<int, Flow> m_flow;
    int m_lastFlowHandle = 0; // one-entry cache for flowOf: floods come from one connection
    Flow* m_lastFlow = nullptr;
    std::size_t m_queuedBytes = 0;
    bool m_held = false; // all reading paused for the total
    std::size_t m_pauseMessages = pauseMessages;
    std::size_t m_pauseBytes = pauseBytes;
    std::size_t m_pauseTotalBytes = pauseTotalBytes;
    std::vector<Waiter*> m_waiters;
    std::map<int, int> m_services; // service -> handle of log_on
    std::uint32_t m_nextRequestId = 1;
};

} // namespace vmsg
