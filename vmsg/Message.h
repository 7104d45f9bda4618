#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace vmsg {

// Bound of every frame unless configured otherwise.
constexpr std::size_t defaultMaxMessage = 262144;

// Connection events reported to the notification handlers.
constexpr int eventLoggedOn = 1; // a client completed its log-on
constexpr int eventClosed = 0;   // the other end closed the connection
constexpr int eventError = -2;   // network error or protocol violation; the connection is closed

struct Divider
{
    bool operator==(const Divider&) const { return true; }
};

// int32, real, string, string array, divider: template letters "i", "r", "s", "a", "v".
using Value = std::variant<std::int32_t, double, std::string, std::vector<std::string>, Divider>;

// Seconds since 1970 by the wall clock.
double wallClockNow();

// One message: its header fields, its values, and a read position for the pops.
struct Message
{
    int handle = 0;              // the connection it arrived on (received messages)
    int kind = 0;                // set by the sender
    std::uint32_t requestId = 0; // 0 for an unasked message
    double timeStamp = 0.0;      // seconds; see hasTimeStamp
    bool hasTimeStamp = false;   // outgoing: false sends the wall clock at send time
    std::vector<Value> values;
    std::size_t readPos = 0;

    Message() = default;
    Message(Message&&) = default;
    Message& operator=(Message&&) = default;
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    // Takes other's header and values and starts reading afresh. The two swap value storage, and this
    // message keeps its text storage, so that messages passed along a queue allocate nothing.
    void adopt(Message&& other);

    void push(int value);
    void push(double value);
    void push(const char* text);
    void push(std::string text);
    void push(std::vector<std::string> strings);
    void pushDivider();
    void setTimeStamp(double t);

    // True when the values from the read position to the end match the template exactly.
    bool checkTemplate(const char* templ) const;
    bool atEnd() const { return readPos >= values.size(); }
    // Memory the decoded values hold: the values themselves and the text storage outside them.
    std::size_t valueBytes() const;

    // Each typed pop skips dividers in front of its value and advances past it; on a type mismatch
    // or at the end it returns false and leaves the read position. popDivider takes one divider.
    bool pop(int& value);
    bool pop(double& value);
    bool pop(std::string& text);
    bool pop(std::vector<std::string>& strings);
    bool popDivider();

    // C-string forms: the texts are copies owned by this message, valid while it lives.
    bool popText(char*& text);
    bool popTextArray(int& count, char**& strings);
    // A message-owned empty text and empty (null-terminated) array, for readers that want valid
    // pointers after a failed pop.
    char* emptyText();
    char** emptyArray();

private:
    struct TextBlock
    {
        std::unique_ptr<char[]> data;
        std::size_t size = 0;
    };
    // Storage for the popped C strings: blocks that never move, reused by adopt().
    char* allocateText(std::size_t size, std::size_t align);
    char* copyText(const std::string& text);
    void releaseTexts();

    std::vector<TextBlock> m_blocks;
    std::size_t m_block = 0; // the block being filled
    std::size_t m_used = 0;  // bytes of it in use
};

} // namespace vmsg
