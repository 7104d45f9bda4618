#pragma once

// The bare side of the benchmarks: frames of the message protocol built and read by hand with Asio,
// as a program without the library would, checked as carefully as the library checks them.

#include "vmsg/Frame.h"
#include "vmsg/Message.h"

#include <asio.hpp>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace bare {

using asio::ip::tcp;

inline std::uint32_t u32(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}

inline void putU32(std::uint8_t* p, std::uint32_t v)
{
    v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

inline void putStamp(std::uint8_t* frame)
{
    const double t = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::uint64_t v;
    std::memcpy(&v, &t, 8);
    v = __builtin_bswap64(v);
    std::memcpy(frame + 16, &v, 8);
}

// A frame as a bare reader decodes it: header fields and values, texts as views of the received bytes.
struct BareMessage
{
    std::uint8_t type = 0;
    std::int32_t kind = 0;
    std::uint32_t requestId = 0;
    double stamp = 0;
    int ints[8] = {};
    int intCount = 0;
    double reals[8] = {};
    int realCount = 0;
    std::string_view texts[16];
    int textCount = 0;
    int arrays = 0;
};

// Checks and decodes the complete frame at p (length bytes), as carefully as the library does.
inline bool decodeBare(const std::uint8_t* p, std::uint32_t length, BareMessage& m)
{
    m.type = p[3];
    m.kind = std::int32_t(u32(p + 8));
    m.requestId = u32(p + 12);
    std::uint64_t bits;
    std::memcpy(&bits, p + 16, 8);
    bits = __builtin_bswap64(bits);
    std::memcpy(&m.stamp, &bits, 8);
    m.intCount = m.realCount = m.textCount = m.arrays = 0;
    const std::uint8_t* end = p + length;
    p += 24;
    auto text = [&](std::uint32_t n) {
        if (m.textCount < 16)
            m.texts[m.textCount++] = std::string_view(reinterpret_cast<const char*>(p + 4), n);
    };
    while (p < end) {
        const std::uint8_t tag = *p++;
        const std::size_t left = std::size_t(end - p);
        if (tag == 'i' && left >= 4) {
            if (m.intCount < 8)
                m.ints[m.intCount++] = std::int32_t(u32(p));
            p += 4;
        } else if (tag == 'r' && left >= 8) {
            if (m.realCount < 8) {
                std::uint64_t v;
                std::memcpy(&v, p, 8);
                v = __builtin_bswap64(v);
                std::memcpy(&m.reals[m.realCount++], &v, 8);
            }
            p += 8;
        } else if (tag == 's' && left >= 4 && u32(p) <= left - 4) {
            text(u32(p));
            p += 4 + u32(p);
        } else if (tag == 'a' && left >= 4 && u32(p) <= (left - 4) / 4) {
            const std::uint32_t count = u32(p);
            p += 4;
            ++m.arrays;
            for (std::uint32_t i = 0; i < count; ++i) {
                if (end - p < 4 || u32(p) > std::size_t(end - p) - 4)
                    return false;
                text(u32(p));
                p += 4 + u32(p);
            }
        } else if (tag != 'v') {
            return false;
        }
    }
    return true;
}

inline bool headerOk(const std::uint8_t* p)
{
    const std::uint32_t length = u32(p + 4);
    return p[0] == 'V' && p[1] == 'M' && p[2] == 1 && p[3] >= 1 && p[3] <= 4 && length >= 24 && length <= 262144;
}

inline std::vector<std::uint8_t> bytesOf(vmsg::FrameType type, int kind, std::uint32_t requestId,
                                         const vmsg::Message& m)
{
    std::vector<std::uint8_t> out;
    vmsg::encodeFrame(type, kind, requestId, m, vmsg::wallClockNow(), vmsg::defaultMaxMessage, out);
    return out;
}

// Reads one whole frame with as few reads as the stream allows (one, for a small frame).
inline bool readFrame(tcp::socket& socket, std::vector<std::uint8_t>& buffer, std::size_t& held, std::uint32_t& length)
{
    asio::error_code ec;
    for (;;) {
        if (held >= 8) {
            length = u32(buffer.data() + 4);
            if (!headerOk(buffer.data()))
                return false;
            if (held >= length)
                return true;
        }
        held += socket.read_some(asio::buffer(buffer.data() + held, buffer.size() - held), ec);
        if (ec)
            return false;
    }
}

inline void consumed(std::vector<std::uint8_t>& buffer, std::size_t& held, std::size_t n)
{
    std::memmove(buffer.data(), buffer.data() + n, held - n);
    held -= n;
}

} // namespace bare
