#include "vmsg/Frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace vmsg;

namespace {

std::vector<std::uint8_t> frameOf(const Message& message, FrameType type = FrameType::Data, int kind = 506,
                                  std::uint32_t requestId = 0, double stamp = 1.5)
{
    std::vector<std::uint8_t> out;
    EXPECT_TRUE(encodeFrame(type, kind, requestId, message, stamp, defaultMaxMessage, out));
    return out;
}

// A frame header followed by body bytes, with the length field set to the real size.
std::vector<std::uint8_t> rawFrame(const std::vector<std::uint8_t>& body)
{
    std::vector<std::uint8_t> out = frameOf(Message());
    out.insert(out.end(), body.begin(), body.end());
    const std::uint32_t n = std::uint32_t(out.size());
    out[4] = std::uint8_t(n >> 24);
    out[5] = std::uint8_t(n >> 16);
    out[6] = std::uint8_t(n >> 8);
    out[7] = std::uint8_t(n);
    return out;
}

DecodeResult decode(const std::vector<std::uint8_t>& bytes, Message& message, std::size_t max = defaultMaxMessage)
{
    return decodeFrame(bytes.data(), bytes.size(), max, message);
}

} // namespace

TEST(Frame, RoundTripsEveryValueType)
{
    Message m;
    m.push(-7);
    m.push(3725.9);
    m.push("BLOCK:TAG");
    m.push(std::vector<std::string>{"a", "", std::string("x\0y", 3)});
    m.pushDivider();
    m.push(std::string());
    const std::vector<std::uint8_t> bytes = frameOf(m, FrameType::Reply, 64, 99, 1234.25);

    Message out;
    const DecodeResult r = decode(bytes, out);
    ASSERT_EQ(r.status, DecodeStatus::Complete);
    EXPECT_EQ(r.frameSize, bytes.size());
    EXPECT_EQ(r.type, FrameType::Reply);
    EXPECT_EQ(out.kind, 64);
    EXPECT_EQ(out.requestId, 99u);
    EXPECT_EQ(out.timeStamp, 1234.25);
    EXPECT_EQ(out.values, m.values);
}

TEST(Frame, DecodingIntoAUsedMessageReplacesEverything)
{
    Message wide;
    wide.push("a text longer than any short-string buffer");
    wide.push(std::vector<std::string>{"one", "two", "three", "four"});
    wide.push(5);
    wide.pushDivider();
    wide.push(std::string(600, 'w'));
    Message narrow;
    narrow.push(std::vector<std::string>{"z"});
    narrow.push("s");
    narrow.push(2.5);
    Message shapes[] = {Message(), Message(), Message()};
    shapes[0].push(std::string());
    shapes[1].push(1);
    shapes[1].push(std::vector<std::string>{"a", "b", "c", "d", "e", "f"});

    // One message decodes frames of every shape in turn, as a connection's does.
    Message out;
    for (const Message* m : {&wide, &narrow, &wide, &shapes[0], &shapes[1], &shapes[2], &wide, &shapes[1]}) {
        out.readPos = 3;
        ASSERT_EQ(decode(frameOf(*m), out).status, DecodeStatus::Complete);
        EXPECT_EQ(out.values, m->values);
        EXPECT_EQ(out.readPos, 0u);
    }
}

TEST(Frame, UsesBigEndianLayout)
{
    Message m;
    m.push(0x01020304);
    m.push(1.0);
    m.push("ab");
    m.setTimeStamp(2.0);
    const std::vector<std::uint8_t> bytes = frameOf(m, FrameType::Data, 0x0A0B0C0D, 0x11223344, 0);
    const std::vector<std::uint8_t> expected = {
        'V',  'M', 1, 3, 0, 0,   0,    45,   0x0A, 0x0B, 0x0C, 0x0D, 0x11, 0x22, 0x33, 0x44, // header
        0x40, 0,   0, 0, 0, 0,   0,    0,                                                    // time stamp 2.0
        'i',  1,   2, 3, 4, 'r', 0x3F, 0xF0, 0,    0,    0,    0,    0,    0,    's',  0,    0, 0, 2, 'a', 'b'};
    EXPECT_EQ(bytes, expected);
}

TEST(Frame, EveryProperPrefixIsIncomplete)
{
    Message m;
    m.push("listing line");
    m.push(std::vector<std::string>{"one", "two"});
    const std::vector<std::uint8_t> bytes = frameOf(m);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        Message out;
        const DecodeResult r = decodeFrame(bytes.data(), n, defaultMaxMessage, out);
        ASSERT_EQ(r.status, DecodeStatus::Incomplete) << n;
        EXPECT_EQ(r.frameSize, n >= 8 ? bytes.size() : 0u) << n;
    }
}

TEST(Frame, RejectsBadHeadersAsSoonAsTheyAreReadable)
{
    const std::vector<std::uint8_t> good = frameOf(Message());
    Message out;
    for (std::size_t at : {0, 1, 2, 3}) {
        std::vector<std::uint8_t> bad = good;
        bad[at] = 0x7F;
        EXPECT_EQ(decodeFrame(bad.data(), at + 1, defaultMaxMessage, out).status, DecodeStatus::Malformed) << at;
    }
    std::vector<std::uint8_t> type0 = good;
    type0[3] = 0;
    EXPECT_EQ(decode(type0, out).status, DecodeStatus::Malformed);
}

TEST(Frame, RejectsLengthsOutsideTheBoundFromTheHeaderAlone)
{
    std::vector<std::uint8_t> oversized = {'V', 'M', 1, 3, 0x7F, 0xFF, 0xFF, 0xFF};
    Message out;
    EXPECT_EQ(decode(oversized, out).status, DecodeStatus::Malformed);

    std::vector<std::uint8_t> justOver = {'V', 'M', 1, 3, 0, 0, 0x04, 0x01};
    EXPECT_EQ(decode(justOver, out, 1024).status, DecodeStatus::Malformed);
    justOver[7] = 0x00;
    EXPECT_EQ(decode(justOver, out, 1024).status, DecodeStatus::Incomplete);

    std::vector<std::uint8_t> tooShort = {'V', 'M', 1, 3, 0, 0, 0, 23};
    EXPECT_EQ(decode(tooShort, out).status, DecodeStatus::Malformed);
}

TEST(Frame, RejectsBodiesThatDoNotHoldWholeValues)
{
    const std::vector<std::vector<std::uint8_t>> bodies = {
        {'x'},                              // unknown tag
        {'i', 0, 0, 1},                     // integer cut short
        {'r', 0, 0, 0, 0, 0, 0, 0},         // real cut short
        {'s', 0, 0, 0, 5, 'a', 'b'},        // string longer than the frame
        {'s', 0xFF, 0xFF, 0xFF, 0xFF},      // string length beyond anything
        {'a', 0x40, 0, 0, 0, 0, 0, 0, 0},   // array count beyond the remaining bytes
        {'a', 0, 0, 0, 2, 0, 0, 0, 1, 'a'}, // second element missing
        {'a', 0, 0, 0, 1, 0, 0, 0, 9, 'a'}, // element longer than the frame
        {'v', 's', 0, 0},                   // value after a divider cut short
    };
    for (const auto& body : bodies) {
        Message out;
        EXPECT_EQ(decode(rawFrame(body), out).status, DecodeStatus::Malformed) << int(body[0]);
    }
}

TEST(Frame, BoundsTheNumberOfValues)
{
    std::vector<std::uint8_t> body(maxFrameValues, 'v');
    Message out;
    EXPECT_EQ(decode(rawFrame(body), out).status, DecodeStatus::Complete);
    body.push_back('v');
    EXPECT_EQ(decode(rawFrame(body), out).status, DecodeStatus::Malformed);

    Message many;
    for (std::size_t i = 0; i <= maxFrameValues; ++i)
        many.pushDivider();
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(encodeFrame(FrameType::Data, 1, 0, many, 0, defaultMaxMessage, bytes));
}

TEST(Frame, EncodeRefusesFramesOverTheBound)
{
    Message m;
    m.push(std::string(1000, 'x'));
    std::vector<std::uint8_t> out = {1, 2, 3};
    EXPECT_FALSE(encodeFrame(FrameType::Data, 1, 0, m, 0, 1000, out));
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3}));
    // Exactly at the bound is allowed: header + tag + length + text.
    EXPECT_TRUE(encodeFrame(FrameType::Data, 1, 0, m, 0, frameHeaderSize + 5 + 1000, out));
    Message back;
    EXPECT_EQ(decodeFrame(out.data() + 3, out.size() - 3, frameHeaderSize + 5 + 1000, back).status,
              DecodeStatus::Complete);
}

TEST(Frame, CorruptedFramesNeverOverrun)
{
    Message m;
    m.push(1);
    m.push("text");
    m.push(std::vector<std::string>{"p", "q", "r"});
    m.pushDivider();
    m.push(2.5);
    const std::vector<std::uint8_t> good = frameOf(m);
    std::mt19937 random(42);
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::uint8_t> bytes = good;
        const int flips = 1 + int(random() % 4);
        for (int i = 0; i < flips; ++i)
            bytes[8 + random() % (bytes.size() - 8)] = std::uint8_t(random());
        bytes.resize(random() % (bytes.size() + 1));
        Message out;
        const DecodeResult r = decode(bytes, out);
        if (r.status == DecodeStatus::Complete) {
            ASSERT_LE(r.frameSize, bytes.size());
        }
    }
}
