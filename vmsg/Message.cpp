#include "vmsg/Message.h"

#include <chrono>
#include <cstring>

namespace vmsg {

namespace {

std::unique_ptr<char[]> copyText(const std::string& s)
{
    auto text = std::make_unique<char[]>(s.size() + 1);
    std::memcpy(text.get(), s.data(), s.size());
    text[s.size()] = '\0';
    return text;
}

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

} // namespace

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
    m_texts.clear();
    m_arrays.clear();
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
    m_texts.push_back(copyText(*v));
    text = m_texts.back().get();
    ++readPos;
    return true;
}

bool Message::popTextArray(int& count, char**& strings)
{
    const std::vector<std::string>* v = valueAt<std::vector<std::string>>(values, readPos);
    if (!v)
        return false;
    auto array = std::make_unique<char*[]>(v->size() + 1);
    for (std::size_t i = 0; i < v->size(); ++i) {
        m_texts.push_back(copyText((*v)[i]));
        array[i] = m_texts.back().get();
    }
    array[v->size()] = nullptr;
    m_arrays.push_back(std::move(array));
    count = int(v->size());
    strings = m_arrays.back().get();
    ++readPos;
    return true;
}

char* Message::emptyText()
{
    m_texts.push_back(copyText(std::string()));
    return m_texts.back().get();
}

char** Message::emptyArray()
{
    m_arrays.push_back(std::make_unique<char*[]>(1));
    return m_arrays.back().get();
}

} // namespace vmsg
