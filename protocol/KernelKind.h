#pragma once

// Kinds of the messages between a client (KelmDesk, the runner) and the kernel, and the codes of the
// kernel's error reply (an integer code and a text, "is").

namespace KernelKind {
enum : int {
    BlockTypes = 10,
    Status = 32, // asked for, and sent unasked when the state changes
    Run = 40,
    Freeze = 41,
    Load = 42,
    Unload = 43,
    Read = 50,
    Write = 51,
    Opcode = 60,
    Query = 64,
};
} // namespace KernelKind

namespace KernelError {
enum : int {
    UnknownKind = -1,
    Malformed = -2,
    NoModel = -3,
    NoSuchVariable = -4,
    TypeMismatch = -5,
    ReadOnly = -6,
    OutOfRange = -7,
    NotAValue = -8,
};
} // namespace KernelError

namespace protocol {
// Longest text of a request or a string value, in bytes of UTF-8: model-variable and block names,
// query texts, host names at log-on.
constexpr int maxText = 99;
// The kernel's service number for log-on and log-off.
constexpr int kernelService = 65536;
} // namespace protocol
