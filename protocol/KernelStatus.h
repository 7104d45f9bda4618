#pragma once

#include <optional>

// The kernel's status message: its simulation time and state, in one of two layouts.
namespace protocol {

enum KernelState : int { NoModel = 0, Running = 1, Paused = 2 }; // other values are passed through

struct KernelStatus
{
    double time = 0.0;
    int state = NoModel;
};

// Short: the time and the state. Long: an instance number and a model name before them.
constexpr const char* shortStatusLayout = "rviv";
constexpr const char* longStatusLayout = "ivsvrviv";

// Reads a status in either layout from a received message. Message: has
// `bool layoutIs(const char*)` (the message's values have exactly this layout) and
// `bool popInt(int&)`, `bool popReal(double&)`, `bool popText()` (skips one), each false when the
// next value is of another type or missing. Nothing when the message has neither layout.
template <typename Message> std::optional<KernelStatus> decodeStatus(Message& m)
{
    KernelStatus status;
    if (m.layoutIs(shortStatusLayout)) {
        if (m.popReal(status.time) && m.popInt(status.state))
            return status;
        return std::nullopt;
    }
    int instance = 0;
    if (m.layoutIs(longStatusLayout) && m.popInt(instance) && m.popText() && m.popReal(status.time) &&
        m.popInt(status.state))
        return status;
    return std::nullopt;
}

} // namespace protocol
