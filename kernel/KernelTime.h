#pragma once

#include "protocol/KernelStatus.h"

#include <QString>

#include <ctime>
#include <functional>
#include <optional>

class vmsgMsgPort;

// Texts of the kernel panes of the status bar.
namespace KernelText {
constexpr const char* NoTime = "               00:00:00";
constexpr const char* NotLoggedOn = "Not logged on";
constexpr const char* LoggedOn = "Logged on";
constexpr const char* NoModel = "No model loaded";
constexpr const char* Running = "Running";
constexpr const char* Paused = "Paused";
} // namespace KernelText

// A kernel time earlier than this many seconds before now (356 days) is an elapsed simulation time.
constexpr double kCalendarTimeWindow = 30758400.0;

// The workstation clock used for calendar times; tests install a fixed one. An empty clock restores
// time(). Returns the previous clock.
using KernelClock = std::function<std::time_t()>;
KernelClock setKernelClock(KernelClock clock);
std::time_t kernelClockNow();

// True when t is later than 356 days before now.
bool isCalendarTime(double t, std::time_t now);

// Elapsed: "%02d:%02d:%02d" of hours, minutes, seconds, each truncated toward zero and keeping the
// sign of t. Calendar: the workstation's local date and time now (not t), "dd-mm-yy hh:mm:ss".
QString FormatKernelTime(double t, bool calendarTime);
QString formatElapsedTime(double t);
QString formatCalendarTime(const std::tm& local);

using protocol::KernelStatus;

// Pops the time and state of a status message in either of the protocol's layouts.
std::optional<KernelStatus> decodeKernelStatusValues(vmsgMsgPort& message);

// The decimal number at the start of text after optional white space and sign, as atoi reads it;
// 0 when there is none. Numbers beyond the int range are clamped.
int atoiText(const QString& text);
