#pragma once

// Encoding and decoding of one frame in a byte buffer. No sockets here, so that the decoder can be
// tested and fuzzed on its own. The layout is described in docs/protocol.md.

#include "vmsg/Message.h"

#include <cstddef>
#include <cstdint>
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

} // namespace vmsg
