// The values of a received message as every reader sees them. The input is a frame followed by
// operations (one byte each, '0' to '6' as in MakeSeeds.cpp): pops of each form, dividers taken, check_template with
// templates from the input, and a record turned into a Message halfway. The same operations run on a decoded Message,
// on its copy read through the std::string forms, on a port (the C-string forms with their defaults), on a queued
// record and on a record read in place; all must give the same answers and values.

#include "fuzz/FuzzCheck.h"
#include "vmsg/Frame.h"
#include "vmsg/Record.h"
#include "vmsg/vmsg.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace vmsg;

bool sameText(const char* a, const char* b)
{
    return a && b && std::strcmp(a, b) == 0;
}

// A record and its read position, with the divider step that Message has and records lack.
struct RecordReader
{
    const Record* record;
    std::uint32_t pos = 0;

    bool pop(int& value)
    {
        return step([&](const Slot*& at, const Slot* end) { return Record::pop(at, end, value); });
    }
    bool pop(double& value)
    {
        return step([&](const Slot*& at, const Slot* end) { return Record::pop(at, end, value); });
    }
    bool popText(char*& text)
    {
        return step([&](const Slot*& at, const Slot* end) { return Record::popText(at, end, text); });
    }
    bool popTextArray(int& count, char**& strings)
    {
        return step([&](const Slot*& at, const Slot* end) { return Record::popTextArray(at, end, count, strings); });
    }

    // Runs a pop of the record's slot cursor from pos, and keeps where it left the cursor.
    template <class Pop> bool step(Pop pop)
    {
        const Slot* at = record->slots() + pos;
        const bool ok = pop(at, record->slots() + record->count);
        pos = std::uint32_t(at - record->slots());
        return ok;
    }

    bool popDivider()
    {
        if (pos >= record->count || record->slots()[pos].tag != wire::tagDivider)
            return false;
        ++pos;
        return true;
    }
};

std::string templateFrom(const std::uint8_t*& p, const std::uint8_t* end)
{
    std::string templ;
    if (p == end)
        return templ;
    std::size_t n = std::uint8_t(*p++ - '0') % 10;
    static const char letters[] = "irsav";
    // Mostly template letters; now and then another byte, which matches nothing.
    for (; n > 0 && p < end; --n, ++p)
        templ += std::strchr(letters, *p) || *p >= 250 ? char(*p) : letters[*p % 5];
    return templ;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (scanFrame(data, size, defaultMaxMessage).status != DecodeStatus::Complete)
        return 0;
    const std::size_t frameSize = wire::getU32(data + 4);
    Message message;
    if (decodeFrame(data, frameSize, defaultMaxMessage, message).status != DecodeStatus::Complete)
        return 0;

    Message strings;
    strings.values = message.values;
    vmsgMsgPort port;
    port.message().values = message.values;

    Inbox inbox;
    RecordReader queued{inbox.decode(data)};
    FUZZ_CHECK(queued.record);

    // In place on a copy of the frame, with a byte behind it for the last text's zero.
    std::vector<std::uint8_t> copy(data, data + frameSize);
    copy.push_back(0);
    std::unique_ptr<std::uint64_t[]> memory(new std::uint64_t[(inPlaceBytes + 7) / 8]);
    const Record::InPlace inPlace = Record::decodeInPlace(memory.get(), copy.data());
    FUZZ_CHECK(inPlace != Record::InPlace::Malformed);
    RecordReader direct{inPlace == Record::InPlace::Copy ? queued.record
                                                         : reinterpret_cast<const Record*>(memory.get())};

    const std::uint8_t* p = data + frameSize;
    const std::uint8_t* end = data + size;
    while (p < end) {
        switch (std::uint8_t(*p++ - '0') % 7) {
        case 0: {
            int a = 1, b = 2, c = 3, d = 4;
            const bool ok = message.pop(a);
            FUZZ_CHECK(queued.pop(b) == ok && direct.pop(c) == ok);
            FUZZ_CHECK(port.pop(d, -99999) == int(ok));
            int e = 5;
            FUZZ_CHECK(strings.pop(e) == ok);
            if (ok)
                FUZZ_CHECK(a == b && a == c && a == d && a == e);
            else
                FUZZ_CHECK(d == -99999);
            break;
        }
        case 1: {
            double a = 1, b = 2, c = 3, d = 4, e = 5;
            const bool ok = message.pop(a);
            FUZZ_CHECK(queued.pop(b) == ok && direct.pop(c) == ok);
            FUZZ_CHECK(port.pop(d, -99999) == int(ok) && strings.pop(e) == ok);
            if (ok)
                FUZZ_CHECK(fuzz::sameBits(a, b) && fuzz::sameBits(a, c) && fuzz::sameBits(a, d) &&
                           fuzz::sameBits(a, e));
            else
                FUZZ_CHECK(d == -99999.0);
            break;
        }
        case 2: {
            char* a = nullptr;
            char* b = nullptr;
            char* c = nullptr;
            char* d = nullptr;
            std::string e;
            const bool ok = message.popText(a);
            FUZZ_CHECK(queued.popText(b) == ok && direct.popText(c) == ok);
            FUZZ_CHECK(port.pop(d, -99999, -1) == int(ok) && strings.pop(e) == ok);
            FUZZ_CHECK(d != nullptr);
            if (ok) {
                // The texts up to a zero byte inside them; the std::string holds all of it.
                FUZZ_CHECK(std::memcmp(a, e.data(), e.size() + 1) == 0);
                FUZZ_CHECK(sameText(a, b) && sameText(a, c) && sameText(a, d));
            } else {
                FUZZ_CHECK(*d == '\0');
            }
            break;
        }
        case 3: {
            int na = -1, nb = -1, nc = -1, nd = -1;
            char** a = nullptr;
            char** b = nullptr;
            char** c = nullptr;
            char** d = nullptr;
            std::vector<std::string> e;
            const bool ok = message.popTextArray(na, a);
            FUZZ_CHECK(queued.popTextArray(nb, b) == ok);
            FUZZ_CHECK(direct.popTextArray(nc, c) == ok);
            FUZZ_CHECK(port.pop(nd, d, -99999, -1) == int(ok) && strings.pop(e) == ok);
            FUZZ_CHECK(d != nullptr);
            if (ok) {
                FUZZ_CHECK(na == nb && na == nc && na == nd && std::size_t(na) == e.size());
                for (int i = 0; i < na; ++i)
                    FUZZ_CHECK(sameText(a[i], b[i]) && sameText(a[i], c[i]) && sameText(a[i], d[i]) &&
                               std::memcmp(a[i], e[i].data(), e[i].size() + 1) == 0);
                FUZZ_CHECK(!a[na] && !b[nb] && !c[nc] && !d[nd]);
            } else {
                FUZZ_CHECK(nd == 0 && d[0] == nullptr);
            }
            break;
        }
        case 4: {
            const bool ok = message.popDivider();
            FUZZ_CHECK(strings.popDivider() == ok && queued.popDivider() == ok && direct.popDivider() == ok);
            FUZZ_CHECK(port.message().popDivider() == ok);
            break;
        }
        case 5: {
            const std::string templ = templateFrom(p, end);
            const bool ok = message.checkTemplate(templ.c_str());
            FUZZ_CHECK(strings.checkTemplate(templ.c_str()) == ok);
            FUZZ_CHECK(queued.record->checkTemplate(queued.pos, templ.c_str()) == ok);
            FUZZ_CHECK(direct.record->checkTemplate(direct.pos, templ.c_str()) == ok);
            FUZZ_CHECK(port.check_template(templ.c_str()) == int(ok));
            FUZZ_CHECK(!port.check_template(nullptr) && !queued.record->checkTemplate(queued.pos, nullptr));
            break;
        }
        default: {
            // A record read so far turned into a Message reads on from the same value.
            Message turned;
            direct.record->toMessage(direct.pos, turned);
            FUZZ_CHECK(turned.values == message.values || turned.values.size() == message.values.size());
            FUZZ_CHECK(turned.readPos == message.readPos && turned.kind == message.kind);
            FUZZ_CHECK(turned.checkTemplate("") == message.atEnd());
            break;
        }
        }
        FUZZ_CHECK(queued.pos <= queued.record->count && direct.pos == queued.pos);
    }
    return 0;
}
