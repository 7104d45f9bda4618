#pragma once

// One value of a received message as the library holds it (see Record.h), public so that the pops of
// vmsg.h take the usual value inline.

#include <cstdint>

namespace vmsg {

struct Slot
{
    std::uint8_t tag;   // the value's letter, as on the wire
    std::uint32_t size; // string: its bytes; string array: its elements
    union {
        std::int32_t integer;
        double real;
        char* text;     // zero-terminated
        char** strings; // zero-terminated texts, then a null pointer; each text's size in the 4 bytes before it
    };
};
static_assert(sizeof(Slot) == 16, "slots are packed in records");

} // namespace vmsg
