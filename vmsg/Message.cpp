#include "vmsg/Message.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vmsg {

namespace {

constexpr std::size_t textBlockSize = 4096;

// The value of type T that a pop at pos reads, skipping dividers (they separate the parts of a
// message; "rviv" is read as a real and an integer); pos is moved to it.
template <typename T> const T* valueAt(const std::vector<Value>& values, std::size_t& pos)
{
    std::size_t at = pos;
    while (at < values.size() && std::holds_alternative<Divider>(values[at]))
        ++at;
    const T* value = at < values.size() ? std::get_if<T>(&values[at]) : nullptr;
    if (value)
        pos = at;
    return value;
}

// Text storage outside the string object, taking texts up to 15 bytes to live inside it.
std::size_t textBytes(const std::string& text)
{
    constexpr std::size_t inPlace = 15;
    return text.capacity() > inPlace ? text.capacity() + 1 : 0;
}

} // namespace

std::size_t Message::valueBytes() const
{
    std::size_t bytes = values.size() * sizeof(Value);
    for (const Value& value : values) {
        if (const auto* text = std::get_if<std::string>(&value)) {
            bytes += textBytes(*text);
        } else if (const auto* array = std::get_if<std::vector<std::string>>(&value)) {
            bytes += array->size() * sizeof(std::string);
            for (const std::string& element : *array)
                bytes += textBytes(element);
        }
    }
    return bytes;
}

double wallClockNow()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

void Message::adopt(Message&& other)
{
    handle = other.handle;
    kind = other.kind;
    requestId = other.requestId;
    timeStamp = other.timeStamp;
    hasTimeStamp = other.hasTimeStamp;
    values.swap(other.values);
    readPos = 0;
    releaseTexts();
}

char* Message::allocateText(std::size_t size, std::size_t align)
{
    for (; m_block < m_blocks.size(); ++m_block, m_used = 0) {
        TextBlock& block = m_blocks[m_block];
        const std::size_t at = (m_used + align - 1) / align * align;
        if (at <= block.size && size <= block.size - at) {
            m_used = at + size;
            return block.data.get() + at;
        }
    }
    // A fresh block starts suitably aligned for any type.
    const std::size_t blockSize = std::max(size, textBlockSize);
    m_blocks.push_back({std::make_unique<char[]>(blockSize), blockSize});
    m_block = m_blocks.size() - 1;
    m_used = size;
    return m_blocks.back().data.get();
}

char* Message::copyText(const std::string& text)
{
    char* copy = allocateText(text.size() + 1, 1);
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

void Message::releaseTexts()
{
    // Keep one ordinary block for the next message; large ones go.
    if (m_blocks.size() > 1 || (!m_blocks.empty() && m_blocks.front().size != textBlockSize)) {
        const bool keepFirst = m_blocks.front().size == textBlockSize;
        m_blocks.erase(m_blocks.begin() + (keepFirst ? 1 : 0), m_blocks.end());
    }
    m_block = 0;
    m_used = 0;
}

void Message::push(int value)
{
    values.emplace_back(std::int32_t(value));
}

void Message::push(double value)
{
    values.emplace_back(value);
}

void Message::push(const char* text)
{
    values.emplace_back(std::string(text ? text : ""));
}

void Message::push(std::string text)
{
    values.emplace_back(std::move(text));
}

void Message::push(std::vector<std::string> strings)
{
    values.emplace_back(std::move(strings));
}

void Message::pushDivider()
{
    values.emplace_back(Divider{});
}

void Message::setTimeStamp(double t)
{
    timeStamp = t;
    hasTimeStamp = true;
}

bool Message::checkTemplate(const char* templ) const
{
    if (!templ)
        return false;
    std::size_t pos = readPos;
    for (const char* c = templ; *c; ++c, ++pos) {
        if (pos >= values.size())
            return false;
        const Value& v = values[pos];
        bool match = false;
        switch (*c) {
        case 'i':
            match = std::holds_alternative<std::int32_t>(v);
            break;
        case 'r':
            match = std::holds_alternative<double>(v);
            break;
        case 's':
            match = std::holds_alternative<std::string>(v);
            break;
        case 'a':
            match = std::holds_alternative<std::vector<std::string>>(v);
            break;
        case 'v':
            match = std::holds_alternative<Divider>(v);
            break;
        default:
            break;
        }
        if (!match)
            return false;
    }
    return pos == values.size();
}

bool Message::pop(int& value)
{
    const std::int32_t* v = valueAt<std::int32_t>(values, readPos);
    if (!v)
        return false;
    value = *v;
    ++readPos;
    return true;
}

bool Message::pop(double& value)
{
    const double* v = valueAt<double>(values, readPos);
    if (!v)
        return false;
    value = *v;
    ++readPos;
    return true;
}

bool Message::pop(std::string& text)
{
    const std::string* v = valueAt<std::string>(values, readPos);
    if (!v)
        return false;
    text = *v;
    ++readPos;
    return true;
}

bool Message::pop(std::vector<std::string>& strings)
{
    const std::vector<std::string>* v = valueAt<std::vector<std::string>>(values, readPos);
    if (!v)
        return false;
    strings = *v;
    ++readPos;
    return true;
}

bool Message::popDivider()
{
    if (readPos >= values.size() || !std::holds_alternative<Divider>(values[readPos]))
        return false;
    ++readPos;
    return true;
}

bool Message::popText(char*& text)
{
    const std::string* v = valueAt<std::string>(values, readPos);
    if (!v)
        return false;
    text = copyText(*v);
    ++readPos;
    return true;
}

bool Message::popTextArray(int& count, char**& strings)
{
    const std::vector<std::string>* v = valueAt<std::vector<std::string>>(values, readPos);
    if (!v)
        return false;
    char** array = reinterpret_cast<char**>(allocateText((v->size() + 1) * sizeof(char*), alignof(char*)));
    for (std::size_t i = 0; i < v->size(); ++i)
        array[i] = copyText((*v)[i]);
    array[v->size()] = nullptr;
    count = int(v->size());
    strings = array;
    ++readPos;
    return true;
}

char* Message::emptyText()
{
    char* text = allocateText(1, 1);
    *text = '\0';
    return text;
}

char** Message::emptyArray()
{
    char** array = reinterpret_cast<char**>(allocateText(sizeof(char*), alignof(char*)));
    *array = nullptr;
    return array;
}

} // namespace vmsg
