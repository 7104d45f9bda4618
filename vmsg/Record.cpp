#include "vmsg/Record.h"

#include <new>

namespace vmsg {

namespace {

using namespace wire;

constexpr std::size_t roundUp8(std::size_t n)
{
    return (n + 7) & ~std::size_t(7);
}

// Writes slots, and copies each text behind them followed by a zero byte. A string array is a table of
// pointers (count + 1), then each element as its 4-byte size, its bytes and a zero byte.
struct Copy
{
    Slot* slot;
    char* out; // where the next text goes
    char** table = nullptr;

    Slot* next(std::uint8_t tag)
    {
        slot->tag = tag;
        return slot++;
    }
    void integer(std::int32_t v) { next(tagInt)->integer = v; }
    void real(double v) { next(tagReal)->real = v; }
    void text(const std::uint8_t* p, std::uint32_t n)
    {
        Slot* s = next(tagString);
        s->size = n;
        s->text = out;
        std::memcpy(out, p, n);
        out[n] = '\0';
        out += std::size_t(n) + 1;
    }
    void array(std::uint32_t count)
    {
        Slot* s = next(tagArray);
        s->size = count;
        const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(out);
        out += roundUp8(at) - at;
        table = reinterpret_cast<char**>(out);
        s->strings = table;
        table[count] = nullptr;
        out += (std::size_t(count) + 1) * sizeof(char*);
    }
    void element(const std::uint8_t* p, std::uint32_t n)
    {
        std::memcpy(out, &n, sizeof n);
        out += sizeof n;
        *table++ = out;
        std::memcpy(out, p, n);
        out[n] = '\0';
        out += std::size_t(n) + 1;
    }
    void divider() { next(tagDivider); }
};

} // namespace

std::size_t Record::sizeFor(const FrameValues& v)
{
    return roundUp8(sizeof(Record) + sizeof(Slot) * std::size_t(v.values) + v.textBytes + v.strings +
                    std::size_t(v.arrays) * (sizeof(char*) + 7) +
                    std::size_t(v.elements) * (sizeof(char*) + sizeof(std::uint32_t) + 1));
}

Record* Record::decode(void* memory, const std::uint8_t* frame, const FrameValues& values)
{
    Record* record = header(memory, frame, values.values, sizeFor(values), values.heldBytes);
    Copy copy{record->slots(), reinterpret_cast<char*>(record->slots() + values.values)};
    walkValues(frame + frameHeaderSize, frame + getU32(frame + 4), copy);
    return record;
}

Record* Record::empty(void* memory)
{
    Record* record = new (memory) Record();
    record->bytes = sizeof(Record);
    return record;
}

bool Record::checkTemplate(std::uint32_t pos, const char* templ) const
{
    if (!templ)
        return false;
    for (const char* c = templ; *c; ++c, ++pos) {
        if (pos >= count || slots()[pos].tag != std::uint8_t(*c))
            return false;
    }
    return pos == count;
}

void Record::toMessage(std::uint32_t pos, Message& message) const
{
    message.handle = handle;
    message.kind = kind;
    message.requestId = requestId;
    message.timeStamp = timeStamp;
    message.hasTimeStamp = true;
    message.values.clear();
    message.values.reserve(count);
    for (const Slot* slot = slots(); slot != slots() + count; ++slot) {
        switch (slot->tag) {
        case tagInt:
            message.values.emplace_back(slot->integer);
            break;
        case tagReal:
            message.values.emplace_back(slot->real);
            break;
        case tagString:
            message.values.emplace_back(std::in_place_type<std::string>, slot->text, slot->size);
            break;
        case tagArray: {
            std::vector<std::string> strings(slot->size);
            for (std::uint32_t i = 0; i < slot->size; ++i) {
                std::uint32_t n;
                std::memcpy(&n, slot->strings[i] - sizeof n, sizeof n);
                strings[i].assign(slot->strings[i], n);
            }
            message.values.emplace_back(std::move(strings));
            break;
        }
        default:
            message.values.emplace_back(Divider{});
            break;
        }
    }
    message.readPos = pos;
}

Record* RecordBuffer::decode(const std::uint8_t* frame)
{
    m_record = nullptr;
    FrameValues values;
    if (!checkValues(frame + frameHeaderSize, frame + getU32(frame + 4), values))
        return nullptr;
    m_record = Record::decode(reserve(Record::sizeFor(values)), frame, values);
    return m_record;
}

void RecordBuffer::grow(std::size_t bytes)
{
    const std::size_t words = (bytes + 7) / 8;
    m_data.reset(new std::uint64_t[words]);
    m_size = words * 8;
}

Record* Inbox::decode(const std::uint8_t* frame)
{
    FrameValues values;
    if (!checkValues(frame + frameHeaderSize, frame + getU32(frame + 4), values))
        return nullptr;
    return Record::decode(append(Record::sizeFor(values)), frame, values);
}

Record* Inbox::appendEmpty()
{
    return Record::empty(append(sizeof(Record)));
}

void* Inbox::append(std::size_t bytes)
{
    if (m_blocks.empty() || m_blocks.back().size - m_blocks.back().tail < bytes) {
        Block block;
        if (bytes <= blockSize && !m_spare.empty()) {
            block = std::move(m_spare.back());
            m_spare.pop_back();
        } else {
            block.size = bytes <= blockSize ? blockSize : roundUp8(bytes);
            block.data.reset(new std::uint64_t[block.size / 8]); // no need to clear it
        }
        block.head = block.tail = 0;
        block.taken = 0;
        m_blocks.push_back(std::move(block));
    }
    Block& block = m_blocks.back();
    void* memory = block.bytes() + block.tail;
    block.tail += bytes;
    ++m_count;
    return memory;
}

Record* Inbox::take()
{
    while (!m_blocks.empty()) {
        Block& block = m_blocks.front();
        if (block.head == block.tail) {
            if (m_blocks.size() == 1) {
                if (block.taken == 0)
                    block.head = block.tail = 0;
                return nullptr;
            }
            retireFront();
            continue;
        }
        Record* record = reinterpret_cast<Record*>(block.bytes() + block.head);
        block.head += record->bytes;
        if (record->dropped)
            continue;
        ++block.taken;
        --m_count;
        if (block.head == block.tail && m_blocks.size() > 1)
            retireFront();
        return record;
    }
    return nullptr;
}

void Inbox::letGo(const Record* record)
{
    for (Block& block : m_blocks) {
        if (block.holds(record)) {
            --block.taken;
            return;
        }
    }
    for (auto it = m_retired.begin(); it != m_retired.end(); ++it) {
        if (it->holds(record)) {
            if (--it->taken == 0) {
                recycle(std::move(*it));
                m_retired.erase(it);
            }
            return;
        }
    }
}

void Inbox::drop(Record& record)
{
    if (!record.dropped) {
        record.dropped = true;
        --m_count;
    }
}

void Inbox::retireFront()
{
    Block done = std::move(m_blocks.front());
    m_blocks.pop_front();
    if (done.taken > 0)
        m_retired.push_back(std::move(done));
    else
        recycle(std::move(done));
}

void Inbox::recycle(Block&& block)
{
    if (block.size == blockSize && m_spare.size() < keptBlocks)
        m_spare.push_back(std::move(block));
}

} // namespace vmsg
