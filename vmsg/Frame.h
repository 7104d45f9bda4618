#pragma once

// Encoding and decoding of one frame in a byte buffer. No sockets here, so that the decoder can be
// tested and fuzzed on its own. The layout is described in docs/protocol.md.

#include "vmsg/Message.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vmsg {

enum class FrameType : std::uint8_t {
    LogOn = 1,  // client to server, first frame of a connection
    Accept = 2, // server to client, answer to LogOn
    Data = 3,   // a message; request id 0: unasked, else a request that waits for a Reply
    Reply = 4,  // the answer to the request with the same request id
};

constexpr std::uint8_t frameMagic0 = 'V';
constexpr std::uint8_t frameMagic1 = 'M';
constexpr std::uint8_t frameVersion = 1;
constexpr std::size_t frameHeaderSize = 24;
// Values in one frame (a string array is one value): keeps a frame's memory near its size.
constexpr std::size_t maxFrameValues = 4096;

enum class DecodeStatus { Complete, Incomplete, Malformed };

struct DecodeResult
{
    DecodeStatus status = DecodeStatus::Incomplete;
    // Complete: bytes taken. Incomplete: the whole frame's length once the header is readable, else 0.
    std::size_t frameSize = 0;
    FrameType type = FrameType::Data;
};

// The header fields of a frame.
struct FrameHeader
{
    FrameType type = FrameType::Data;
    std::uint32_t length = 0;
    std::int32_t kind = 0;
    std::uint32_t requestId = 0;
    double timeStamp = 0.0;
};

// What the values of a frame hold, found while checking them.
struct FrameValues
{
    std::uint32_t values = 0;   // a string array counts as one
    std::uint32_t strings = 0;  // string values
    std::uint32_t arrays = 0;   // string array values
    std::uint32_t elements = 0; // strings in all arrays
    std::size_t textBytes = 0;  // bytes of all strings and elements
    // Memory the values would hold as a Message (Message::valueBytes): the measure of flow control.
    std::size_t heldBytes = 0;
};

// Appends one frame to out. The time stamp is message.timeStamp when message.hasTimeStamp, else
// timeStamp. Returns false, leaving out as it was, when the frame would exceed maxMessage or
// maxFrameValues.
bool encodeFrame(FrameType type, int kind, std::uint32_t requestId, const Message& message, double timeStamp,
                 std::size_t maxMessage, std::vector<std::uint8_t>& out);

// Decodes the frame at the start of data[0, size). On Complete, message receives kind, request id,
// time stamp and values (read position 0); on other results message is unspecified. Malformed: bad
// magic, version or type, a length outside [frameHeaderSize, maxMessage], or a body that does not
// consist of at most maxFrameValues whole values exactly filling the frame.
DecodeResult decodeFrame(const std::uint8_t* data, std::size_t size, std::size_t maxMessage, Message& message);

// Checks that the body [p, end) consists of at most maxFrameValues whole values exactly, and measures them.
bool checkValues(const std::uint8_t* p, const std::uint8_t* end, FrameValues& values);
// Decodes the body [p, end) into message.values (reusing their storage), checking it as checkValues
// does; false when it is malformed (message.values are then unspecified).
bool decodeValues(const std::uint8_t* p, const std::uint8_t* end, Message& message);

namespace wire {

constexpr std::uint8_t tagInt = 'i';
constexpr std::uint8_t tagReal = 'r';
constexpr std::uint8_t tagString = 's';
constexpr std::uint8_t tagArray = 'a';
constexpr std::uint8_t tagDivider = 'v';

inline std::uint32_t getU32(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_bswap32(v);
}

inline double getF64(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    v = __builtin_bswap64(v);
    double d;
    std::memcpy(&d, &v, sizeof d);
    return d;
}

// Walks the values of [p, end), calling sink.integer(v), sink.real(v), sink.text(bytes, n),
// sink.array(count) followed by sink.element(bytes, n) for each element, and sink.divider(). Stops
// with false at the first fault: an unknown tag, a value cut short, a length beyond the frame, or
// more than maxFrameValues values.
template <class Sink> bool walkValues(const std::uint8_t* p, const std::uint8_t* end, Sink& sink)
{
    std::size_t n = 0;
    while (p < end) {
        if (n++ == maxFrameValues)
            return false;
        const std::uint8_t tag = *p++;
        const std::size_t left = std::size_t(end - p);
        switch (tag) {
        case tagInt:
            if (left < 4)
                return false;
            sink.integer(std::int32_t(getU32(p)));
            p += 4;
            break;
        case tagReal:
            if (left < 8)
                return false;
            sink.real(getF64(p));
            p += 8;
            break;
        case tagString: {
            if (left < 4)
                return false;
            const std::uint32_t size = getU32(p);
            if (size > left - 4)
                return false;
            sink.text(p + 4, size);
            p += 4 + std::size_t(size);
            break;
        }
        case tagArray: {
            if (left < 4)
                return false;
            const std::uint32_t count = getU32(p);
            p += 4;
            // Each element takes at least its 4-byte length: refuse before anything is reserved.
            if (count > (left - 4) / 4)
                return false;
            sink.array(count);
            for (std::uint32_t i = 0; i < count; ++i) {
                if (end - p < 4)
                    return false;
                const std::uint32_t size = getU32(p);
                if (size > std::size_t(end - p) - 4)
                    return false;
                sink.element(p + 4, size);
                p += 4 + std::size_t(size);
            }
            break;
        }
        case tagDivider:
            sink.divider();
            break;
        default:
            return false;
        }
    }
    return true;
}

} // namespace wire

// The first steps of decodeFrame: checks the header bytes as far as they go. Complete when the whole
// frame is there; its values are not looked at (checkValues does that).
inline DecodeResult scanFrame(const std::uint8_t* data, std::size_t size, std::size_t maxMessage)
{
    // The usual case first: a whole frame behind a good header.
    if (size >= 8) {
        const std::uint32_t length = wire::getU32(data + 4);
        if (data[0] == frameMagic0 && data[1] == frameMagic1 && data[2] == frameVersion &&
            std::uint8_t(data[3] - std::uint8_t(FrameType::LogOn)) <= std::uint8_t(FrameType::Reply) - 1 &&
            length >= frameHeaderSize && length <= maxMessage && length <= size)
            return {DecodeStatus::Complete, length, FrameType(data[3])};
    }
    DecodeResult result;
    // Reject a bad prefix as early as its bytes arrive, so garbage never waits for more input.
    if (size >= 1 && data[0] != frameMagic0)
        return {DecodeStatus::Malformed, 0, FrameType::Data};
    if (size >= 2 && data[1] != frameMagic1)
        return {DecodeStatus::Malformed, 0, FrameType::Data};
    if (size >= 3 && data[2] != frameVersion)
        return {DecodeStatus::Malformed, 0, FrameType::Data};
    if (size >= 4) {
        if (data[3] < std::uint8_t(FrameType::LogOn) || data[3] > std::uint8_t(FrameType::Reply))
            return {DecodeStatus::Malformed, 0, FrameType::Data};
        result.type = FrameType(data[3]);
    }
    if (size < 8)
        return result;

    const std::uint32_t length = wire::getU32(data + 4);
    if (length < frameHeaderSize || length > maxMessage)
        return {DecodeStatus::Malformed, 0, result.type};
    result.frameSize = length;
    if (size >= length)
        result.status = DecodeStatus::Complete;
    return result;
}

// The header of a frame that scanFrame found complete.
inline FrameHeader frameHeader(const std::uint8_t* frame)
{
    FrameHeader header;
    header.type = FrameType(frame[3]);
    header.length = wire::getU32(frame + 4);
    header.kind = std::int32_t(wire::getU32(frame + 8));
    header.requestId = wire::getU32(frame + 12);
    header.timeStamp = wire::getF64(frame + 16);
    return header;
}

} // namespace vmsg
