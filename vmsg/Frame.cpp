#include "vmsg/Frame.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vmsg {

namespace {

constexpr std::uint8_t tagInt = 'i';
constexpr std::uint8_t tagReal = 'r';
constexpr std::uint8_t tagString = 's';
constexpr std::uint8_t tagArray = 'a';
constexpr std::uint8_t tagDivider = 'v';

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    const std::uint8_t b[4] = {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
    out.insert(out.end(), b, b + 4);
}

void putF64(std::vector<std::uint8_t>& out, double d)
{
    std::uint64_t v;
    std::memcpy(&v, &d, sizeof v);
    putU32(out, std::uint32_t(v >> 32));
    putU32(out, std::uint32_t(v));
}

void putBytes(std::vector<std::uint8_t>& out, const std::string& s)
{
    putU32(out, std::uint32_t(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

std::uint32_t getU32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

double getF64(const std::uint8_t* p)
{
    const std::uint64_t v = (std::uint64_t(getU32(p)) << 32) | getU32(p + 4);
    double d;
    std::memcpy(&d, &v, sizeof d);
    return d;
}

std::size_t encodedSize(const Value& value)
{
    struct Size
    {
        std::size_t operator()(std::int32_t) const { return 5; }
        std::size_t operator()(double) const { return 9; }
        std::size_t operator()(const std::string& s) const { return 5 + s.size(); }
        std::size_t operator()(const std::vector<std::string>& a) const
        {
            std::size_t n = 5;
            for (const std::string& s : a)
                n += 4 + s.size();
            return n;
        }
        std::size_t operator()(Divider) const { return 1; }
    };
    return std::visit(Size{}, value);
}

// The slot for the next decoded value: an existing one is overwritten, so that a message decoded
// again and again keeps its strings' storage.
Value& nextSlot(std::vector<Value>& values, std::size_t& n)
{
    if (n == values.size())
        values.emplace_back();
    return values[n++];
}

void assignString(Value& slot, const std::uint8_t* p, std::size_t n)
{
    if (std::string* s = std::get_if<std::string>(&slot))
        s->assign(reinterpret_cast<const char*>(p), n);
    else
        slot.emplace<std::string>(reinterpret_cast<const char*>(p), n);
}

// Reads values from [p, end) into values, replacing what they held; false unless they fill the range
// exactly.
bool decodeValues(const std::uint8_t* p, const std::uint8_t* end, std::vector<Value>& values)
{
    std::size_t n = 0;
    while (p < end) {
        if (n == maxFrameValues)
            return false;
        const std::uint8_t tag = *p++;
        const std::size_t left = std::size_t(end - p);
        switch (tag) {
        case tagInt:
            if (left < 4)
                return false;
            nextSlot(values, n) = std::int32_t(getU32(p));
            p += 4;
            break;
        case tagReal:
            if (left < 8)
                return false;
            nextSlot(values, n) = getF64(p);
            p += 8;
            break;
        case tagString: {
            if (left < 4)
                return false;
            const std::uint32_t size = getU32(p);
            if (size > left - 4)
                return false;
            if (n == values.size())
                values.emplace_back(std::in_place_type<std::string>, reinterpret_cast<const char*>(p + 4), size);
            else
                assignString(values[n], p + 4, size);
            ++n;
            p += 4 + size;
            break;
        }
        case tagArray: {
            if (left < 4)
                return false;
            const std::uint32_t count = getU32(p);
            p += 4;
            // Each element takes at least its 4-byte length: reject before reserving anything.
            if (count > (left - 4) / 4)
                return false;
            Value& slot = nextSlot(values, n);
            std::vector<std::string>* strings = std::get_if<std::vector<std::string>>(&slot);
            if (!strings)
                strings = &slot.emplace<std::vector<std::string>>();
            const std::size_t reused = std::min<std::size_t>(strings->size(), count);
            strings->reserve(std::min<std::uint32_t>(count, 1024));
            for (std::uint32_t i = 0; i < count; ++i) {
                if (end - p < 4)
                    return false;
                const std::uint32_t size = getU32(p);
                if (size > std::size_t(end - p) - 4)
                    return false;
                if (i < reused)
                    (*strings)[i].assign(reinterpret_cast<const char*>(p + 4), size);
                else
                    strings->emplace_back(reinterpret_cast<const char*>(p + 4), size);
                p += 4 + size;
            }
            strings->resize(count);
            break;
        }
        case tagDivider:
            nextSlot(values, n) = Divider{};
            break;
        default:
            return false;
        }
    }
    values.erase(values.begin() + std::ptrdiff_t(n), values.end());
    return true;
}

} // namespace

bool encodeFrame(FrameType type, int kind, std::uint32_t requestId, const Message& message, double timeStamp,
                 std::size_t maxMessage, std::vector<std::uint8_t>& out)
{
    if (message.values.size() > maxFrameValues)
        return false;
    std::size_t total = frameHeaderSize;
    for (const Value& value : message.values)
        total += encodedSize(value);
    if (total > maxMessage || total > std::numeric_limits<std::uint32_t>::max())
        return false;

    if (out.capacity() - out.size() < total)
        out.reserve(std::max(out.size() + total, 2 * out.capacity())); // keep appends amortised
    out.push_back(frameMagic0);
    out.push_back(frameMagic1);
    out.push_back(frameVersion);
    out.push_back(std::uint8_t(type));
    putU32(out, std::uint32_t(total));
    putU32(out, std::uint32_t(kind));
    putU32(out, requestId);
    putF64(out, message.hasTimeStamp ? message.timeStamp : timeStamp);
    for (const Value& value : message.values) {
        struct Put
        {
            std::vector<std::uint8_t>& out;
            void operator()(std::int32_t v) const
            {
                out.push_back(tagInt);
                putU32(out, std::uint32_t(v));
            }
            void operator()(double v) const
            {
                out.push_back(tagReal);
                putF64(out, v);
            }
            void operator()(const std::string& s) const
            {
                out.push_back(tagString);
                putBytes(out, s);
            }
            void operator()(const std::vector<std::string>& a) const
            {
                out.push_back(tagArray);
                putU32(out, std::uint32_t(a.size()));
                for (const std::string& s : a)
                    putBytes(out, s);
            }
            void operator()(Divider) const { out.push_back(tagDivider); }
        };
        std::visit(Put{out}, value);
    }
    return true;
}

DecodeResult decodeFrame(const std::uint8_t* data, std::size_t size, std::size_t maxMessage, Message& message)
{
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

    const std::uint32_t length = getU32(data + 4);
    if (length < frameHeaderSize || length > maxMessage)
        return {DecodeStatus::Malformed, 0, result.type};
    result.frameSize = length;
    if (size < length)
        return result;

    message.kind = std::int32_t(getU32(data + 8));
    message.requestId = getU32(data + 12);
    message.timeStamp = getF64(data + 16);
    message.hasTimeStamp = true;
    message.readPos = 0;
    if (!decodeValues(data + frameHeaderSize, data + length, message.values))
        return {DecodeStatus::Malformed, 0, result.type};
    result.status = DecodeStatus::Complete;
    return result;
}

} // namespace vmsg
