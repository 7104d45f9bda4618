#pragma once

// The compact form of a received message: a frame decoded once into one piece of memory that
// delivery and the pops read as it is, a header and one 16-byte slot per value. A string's slot
// points at its bytes, which a zero byte follows, so that pops hand texts out without copying them:
// a record that is kept (a queued message, a reply) has its texts copied behind the slots; one that
// is delivered at once points into the received frame.

#include "vmsg/Frame.h"
#include "vmsg/Message.h"
#include "vmsg/Slot.h"
#include "vmsg/vmsg.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <vector>

namespace vmsg {

struct Record
{
    std::uint32_t bytes = 0; // the whole record, a multiple of 8
    std::uint32_t count = 0; // values
    std::int32_t handle = 0;
    std::int32_t kind = 0;
    std::uint32_t requestId = 0;
    std::int32_t event = 0;      // of a notification
    std::uint32_t heldBytes = 0; // of a message: FrameValues::heldBytes, the measure of flow control
    bool isMessage = false;
    bool dropped = false;
    double timeStamp = 0.0;
    void* owner = nullptr; // the queue owner's bookkeeping for this record

    Slot* slots() { return reinterpret_cast<Slot*>(this + 1); }
    const Slot* slots() const { return reinterpret_cast<const Slot*>(this + 1); }

    // Bytes of a record that keeps its texts, for a frame with these values (as checkValues measured).
    static std::size_t sizeFor(const FrameValues& values);
    // Decodes a frame whose values checkValues accepted into memory of sizeFor(values) bytes, aligned
    // for any type, copying the texts.
    static Record* decode(void* memory, const std::uint8_t* frame, const FrameValues& values);

    enum class InPlace {
        Done,      // every text ends in a zero byte written into the frame
        TextAtEnd, // so does every text but the last, which ends at the frame's end
        Copy,      // the frame holds string arrays: decode() it
        Malformed,
    };
    // Decodes a frame, checking it, into memory of inPlaceBytes, for delivery at once: the
    // slots point at the texts in the frame, and heldBytes is 0. Copy and Malformed leave the frame's
    // values as they were (Malformed not always: the connection is closed then).
    static InPlace decodeInPlace(void* memory, std::uint8_t* frame);
    // Fills the header of a message record from the frame's.
    static Record* header(void* memory, const std::uint8_t* frame, std::uint32_t count, std::size_t bytes,
                          std::size_t heldBytes);
    // Constructs a record without values (a notification).
    static Record* empty(void* memory);

    // The value of type tag a pop at at reads, skipping dividers (they separate the parts of a message:
    // "rviv" is read as a real and an integer); at is moved behind it. Null on a mismatch or at end,
    // at left as it was.
    static const Slot* valueAt(const Slot*& at, const Slot* end, std::uint8_t tag)
    {
        const Slot* slot = at;
        while (slot != end && slot->tag == wire::tagDivider)
            ++slot;
        if (slot == end || slot->tag != tag)
            return nullptr;
        at = slot + 1;
        return slot;
    }

    // Pops as Message's, the reader's position at kept by the reader.
    static bool pop(const Slot*& at, const Slot* end, int& value)
    {
        const Slot* slot = valueAt(at, end, wire::tagInt);
        if (slot)
            value = slot->integer;
        return slot;
    }
    static bool pop(const Slot*& at, const Slot* end, double& value)
    {
        const Slot* slot = valueAt(at, end, wire::tagReal);
        if (slot)
            value = slot->real;
        return slot;
    }
    static bool popText(const Slot*& at, const Slot* end, char*& text)
    {
        const Slot* slot = valueAt(at, end, wire::tagString);
        if (slot)
            text = slot->text;
        return slot;
    }
    static bool popTextArray(const Slot*& at, const Slot* end, int& count, char**& strings)
    {
        const Slot* slot = valueAt(at, end, wire::tagArray);
        if (slot) {
            count = int(slot->size);
            strings = slot->strings;
        }
        return slot;
    }
    bool checkTemplate(std::uint32_t pos, const char* templ) const;
    // Header and values as a Message, its read position at pos.
    void toMessage(std::uint32_t pos, Message& message) const;
};
static_assert(sizeof(Record) % alignof(Slot) == 0, "slots follow the header aligned");

// Memory for Record::decodeInPlace: the record of a frame with the most values.
constexpr std::size_t inPlaceBytes = sizeof(Record) + sizeof(Slot) * maxFrameValues;

inline Record* Record::header(void* memory, const std::uint8_t* frame, std::uint32_t count, std::size_t bytes,
                              std::size_t heldBytes)
{
    // Each field written once.
    return new (memory) Record{std::uint32_t(bytes),
                               count,
                               0,
                               std::int32_t(wire::getU32(frame + 8)),
                               wire::getU32(frame + 12),
                               0,
                               std::uint32_t(heldBytes),
                               true,
                               false,
                               wire::getF64(frame + 16),
                               nullptr};
}

// Inlined into the read loop: a call per message is a measurable part of a flood's cost.
__attribute__((always_inline)) inline Record::InPlace Record::decodeInPlace(void* memory, std::uint8_t* frame)
{
    // One pass, checking as wire::walkValues does. A text's zero goes on the byte behind it: the next
    // value's tag, written once that tag is read; the last text's may be the byte behind the frame.
    using namespace wire;
    Slot* const first = reinterpret_cast<Slot*>(static_cast<Record*>(memory) + 1);
    Slot* const last = first + maxFrameValues;
    Slot* slot = first;
    std::uint8_t* p = frame + frameHeaderSize;
    std::uint8_t* const end = frame + getU32(frame + 4);
    bool atEnd = false;
    if (p != end) {
        std::uint8_t tag = *p++;
        for (;;) {
            if (slot == last)
                return InPlace::Malformed;
            const std::size_t left = std::size_t(end - p);
            slot->tag = tag;
            if (tag == tagString) {
                if (left < 4)
                    return InPlace::Malformed;
                const std::uint32_t size = getU32(p);
                if (size > left - 4)
                    return InPlace::Malformed;
                slot->size = size;
                slot->text = reinterpret_cast<char*>(p + 4);
                ++slot;
                p += 4 + std::size_t(size);
                if (p == end) {
                    atEnd = true;
                    break;
                }
                tag = *p;
                *p++ = 0;
                continue;
            }
            if (tag == tagInt) {
                if (left < 4)
                    return InPlace::Malformed;
                slot->integer = std::int32_t(getU32(p));
                p += 4;
            } else if (tag == tagReal) {
                if (left < 8)
                    return InPlace::Malformed;
                slot->real = getF64(p);
                p += 8;
            } else if (tag == tagArray) {
                // Copied by decode(): give the frame its tags back first.
                for (Slot* s = first; s != slot; ++s) {
                    if (s->tag == tagString)
                        reinterpret_cast<std::uint8_t*>(s->text)[s->size] = s[1].tag;
                }
                return InPlace::Copy;
            } else if (tag != tagDivider) {
                return InPlace::Malformed;
            }
            ++slot;
            if (p == end)
                break;
            tag = *p++;
        }
    }
    // Flow control counts queued records only: this one is delivered at once.
    header(memory, frame, std::uint32_t(slot - first), sizeof(Record) + sizeof(Slot) * std::size_t(slot - first), 0);
    return atEnd ? InPlace::TextAtEnd : InPlace::Done;
}

// Memory for records, one at a time, that keeps its place (a reply held by a port, or the message
// delivered at once).
class RecordBuffer
{
public:
    void* reserve(std::size_t bytes)
    {
        if (bytes > m_size)
            grow(bytes);
        m_record = nullptr;
        return m_data.get();
    }
    // Decodes a frame (complete, as scanFrame found), copying its texts; null when its values are
    // malformed.
    Record* decode(const std::uint8_t* frame);
    Record* record() const { return m_record; }
    // The memory of the last reserve(), for a record placed there by other means.
    void* memory() const { return m_data.get(); }
    void setRecord(Record* record) { m_record = record; }

private:
    void grow(std::size_t bytes);

    std::unique_ptr<std::uint64_t[]> m_data;
    std::size_t m_size = 0;
    Record* m_record = nullptr;
};

// A first-in first-out queue of records in blocks that are reused. A record taken off the queue stays
// in place until it is let go, whatever comes and goes meanwhile (a handler reads it, and may deliver
// later records from a nested loop).
class Inbox
{
public:
    Inbox() = default;
    Inbox(const Inbox&) = delete;
    Inbox& operator=(const Inbox&) = delete;

    // Decodes a frame (complete, as scanFrame found) into a record at the end of the queue; null,
    // queueing nothing, when its values are malformed.
    Record* decode(const std::uint8_t* frame);
    // An empty record (a notification) at the end of the queue.
    Record* appendEmpty();
    // Takes the first record that is not dropped off the queue (null when there is none); it stays
    // valid until letGo(record).
    Record* take();
    void letGo(const Record* record);
    // Leaves record in the queue, uncounted, until it reaches the front.
    void drop(Record& record);
    std::size_t size() const { return m_count; }
    template <class F> void forEach(F&& f)
    {
        for (Block& block : m_blocks) {
            for (std::size_t at = block.head; at < block.tail;) {
                Record& record = *reinterpret_cast<Record*>(block.bytes() + at);
                at += record.bytes;
                if (!record.dropped)
                    f(record);
            }
        }
    }

private:
    struct Block
    {
        std::unique_ptr<std::uint64_t[]> data;
        std::size_t size = 0;
        std::size_t head = 0; // first queued record
        std::size_t tail = 0; // end of the last one
        int taken = 0;        // records of it taken and not let go
        char* bytes() const { return reinterpret_cast<char*>(data.get()); }
        bool holds(const void* p) const { return p >= data.get() && p < bytes() + size; }
    };
    static constexpr std::size_t blockSize = 64 * 1024;
    static constexpr std::size_t keptBlocks = 4;

    // Memory for bytes (a multiple of 8) at the end of the queue.
    void* append(std::size_t bytes);
    // Drops the front block, which has been read to its end.
    void retireFront();
    void recycle(Block&& block);

    std::deque<Block> m_blocks;
    std::vector<Block> m_retired; // read to the end, with records still taken
    std::vector<Block> m_spare;
    std::size_t m_count = 0;
};

} // namespace vmsg

inline void vmsgMsgPort::readRecord(vmsg::Record* record)
{
    m_record = record;
    m_at = record ? record->slots() : nullptr;
    m_end = record ? record->slots() + record->count : nullptr;
}
