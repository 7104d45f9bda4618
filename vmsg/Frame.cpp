#include "vmsg/Frame.h"

#include <algorithm>
#include <limits>

namespace vmsg {

namespace {

using namespace wire;

std::uint8_t* putU32(std::uint8_t* out, std::uint32_t v)
{
    v = __builtin_bswap32(v);
    std::memcpy(out, &v, sizeof v);
    return out + 4;
}

std::uint8_t* putF64(std::uint8_t* out, double d)
{
    std::uint64_t v;
    std::memcpy(&v, &d, sizeof v);
    v = __builtin_bswap64(v);
    std::memcpy(out, &v, sizeof v);
    return out + 8;
}

std::uint8_t* putBytes(std::uint8_t* out, const std::string& s)
{
    out = putU32(out, std::uint32_t(s.size()));
    std::memcpy(out, s.data(), s.size()); // NOLINT(bugprone-not-null-terminated-result): counted, no terminator
    return out + s.size();
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

// Text storage outside a string object, which holds up to 15 bytes in place (as Message::valueBytes).
std::size_t heldText(std::size_t size)
{
    constexpr std::size_t inPlace = 15;
    return size > inPlace ? size + 1 : 0;
}

struct Measure
{
    FrameValues& v;
    void integer(std::int32_t) { ++v.values; }
    void real(double) { ++v.values; }
    void text(const std::uint8_t*, std::uint32_t n)
    {
        ++v.values;
        ++v.strings;
        v.textBytes += n;
        v.heldBytes += heldText(n);
    }
    void array(std::uint32_t count)
    {
        ++v.values;
        ++v.arrays;
        v.elements += count;
        v.heldBytes += std::size_t(count) * sizeof(std::string);
    }
    void element(const std::uint8_t*, std::uint32_t n)
    {
        v.textBytes += n;
        v.heldBytes += heldText(n);
    }
    void divider() { ++v.values; }
};

// Fills message.values, overwriting the slots it has, so that a message decoded again and again keeps
// its strings' storage.
struct Fill
{
    std::vector<Value>& values;
    std::size_t n = 0;
    std::vector<std::string>* strings = nullptr; // the array being filled
    std::size_t filled = 0;                      // its elements so far

    Value& next()
    {
        if (n == values.size())
            values.emplace_back();
        return values[n++];
    }
    void integer(std::int32_t v) { next() = v; }
    void real(double v) { next() = v; }
    void text(const std::uint8_t* p, std::uint32_t size)
    {
        const char* bytes = reinterpret_cast<const char*>(p);
        if (n == values.size()) {
            values.emplace_back(std::in_place_type<std::string>, bytes, size);
            ++n;
            return;
        }
        Value& slot = values[n++];
        if (std::string* s = std::get_if<std::string>(&slot))
            s->assign(bytes, size);
        else
            slot.emplace<std::string>(bytes, size);
    }
    void array(std::uint32_t count)
    {
        Value& slot = next();
        strings = std::get_if<std::vector<std::string>>(&slot);
        if (!strings)
            strings = &slot.emplace<std::vector<std::string>>();
        strings->resize(count);
        filled = 0;
    }
    void element(const std::uint8_t* p, std::uint32_t size)
    {
        (*strings)[filled++].assign(reinterpret_cast<const char*>(p), size);
    }
    void divider() { next() = Divider{}; }
};

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

    const std::size_t at = out.size();
    if (out.capacity() - at < total)
        out.reserve(std::max(at + total, 2 * out.capacity())); // keep appends amortised
    out.resize(at + total);
    std::uint8_t* p = out.data() + at;
    *p++ = frameMagic0;
    *p++ = frameMagic1;
    *p++ = frameVersion;
    *p++ = std::uint8_t(type);
    p = putU32(p, std::uint32_t(total));
    p = putU32(p, std::uint32_t(kind));
    p = putU32(p, requestId);
    p = putF64(p, message.hasTimeStamp ? message.timeStamp : timeStamp);
    for (const Value& value : message.values) {
        struct Put
        {
            std::uint8_t*& p;
            void operator()(std::int32_t v) const
            {
                *p++ = tagInt;
                p = putU32(p, std::uint32_t(v));
            }
            void operator()(double v) const
            {
                *p++ = tagReal;
                p = putF64(p, v);
            }
            void operator()(const std::string& s) const
            {
                *p++ = tagString;
                p = putBytes(p, s);
            }
            void operator()(const std::vector<std::string>& a) const
            {
                *p++ = tagArray;
                p = putU32(p, std::uint32_t(a.size()));
                for (const std::string& s : a)
                    p = putBytes(p, s);
            }
            void operator()(Divider) const { *p++ = tagDivider; }
        };
        std::visit(Put{p}, value);
    }
    return true;
}

bool checkValues(const std::uint8_t* p, const std::uint8_t* end, FrameValues& values)
{
    values = FrameValues();
    Measure measure{values};
    if (!walkValues(p, end, measure))
        return false;
    values.heldBytes += std::size_t(values.values) * sizeof(Value);
    return true;
}

bool decodeValues(const std::uint8_t* p, const std::uint8_t* end, Message& message)
{
    Fill fill{message.values};
    const bool ok = walkValues(p, end, fill);
    message.values.erase(message.values.begin() + std::ptrdiff_t(fill.n), message.values.end());
    message.readPos = 0;
    return ok;
}

DecodeResult decodeFrame(const std::uint8_t* data, std::size_t size, std::size_t maxMessage, Message& message)
{
    DecodeResult result = scanFrame(data, size, maxMessage);
    if (result.status != DecodeStatus::Complete)
        return result;
    const FrameHeader header = frameHeader(data);
    message.kind = header.kind;
    message.requestId = header.requestId;
    message.timeStamp = header.timeStamp;
    message.hasTimeStamp = true;
    if (!decodeValues(data + frameHeaderSize, data + result.frameSize, message))
        return {DecodeStatus::Malformed, 0, result.type};
    return result;
}

} // namespace vmsg
