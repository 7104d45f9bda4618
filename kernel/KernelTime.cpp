#include "kernel/KernelTime.h"

#include "vmsg/vmsg.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

KernelClock& clockSlot()
{
    static KernelClock clock;
    return clock;
}

// Keeps the hour count within long long; the kernel may send any double.
constexpr double kMaxElapsed = 1e15;

} // namespace

KernelClock setKernelClock(KernelClock clock)
{
    KernelClock previous = std::move(clockSlot());
    clockSlot() = std::move(clock);
    return previous;
}

std::time_t kernelClockNow()
{
    return clockSlot() ? clockSlot()() : std::time(nullptr);
}

bool isCalendarTime(double t, std::time_t now)
{
    return static_cast<double>(now) - kCalendarTimeWindow < t;
}

QString formatElapsedTime(double t)
{
    if (!std::isfinite(t))
        t = 0.0;
    t = std::fmax(-kMaxElapsed, std::fmin(kMaxElapsed, t));
    const double h = std::trunc(t / 3600.0);
    const double r = t - 3600.0 * h;
    const double m = std::trunc(r / 60.0);
    const double s = std::trunc(r - 60.0 * m);
    return QString::asprintf("%02lld:%02d:%02d", static_cast<long long>(h), static_cast<int>(m), static_cast<int>(s));
}

QString formatCalendarTime(const std::tm& local)
{
    return QString::asprintf("%02d-%02d-%02d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                             local.tm_year + 1900 - 2000, local.tm_hour, local.tm_min, local.tm_sec);
}

QString FormatKernelTime(double t, bool calendarTime)
{
    if (!calendarTime)
        return formatElapsedTime(t);
    const std::time_t now = kernelClockNow();
    std::tm local{};
    if (!localtime_r(&now, &local))
        return formatElapsedTime(0.0);
    return formatCalendarTime(local);
}

namespace {

// A received message as the protocol's status decoder reads it.
class PortValues
{
public:
    explicit PortValues(vmsgMsgPort& message) : m_message(message) {}
    bool layoutIs(const char* layout) { return m_message.check_template(layout); }
    bool popInt(int& value) { return m_message.pop(value, None); }
    bool popReal(double& value) { return m_message.pop(value, None); }
    bool popText()
    {
        char* text = nullptr;
        return m_message.pop(text, None, -1);
    }

private:
    static constexpr int None = -99999;
    vmsgMsgPort& m_message;
};

} // namespace

std::optional<KernelStatus> decodeKernelStatusValues(vmsgMsgPort& message)
{
    PortValues values(message);
    return protocol::decodeStatus(values);
}

int atoiText(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    // The white space of isspace() in the C locale.
    while (i < n && (text[i] == QLatin1Char(' ') || (text[i] >= QLatin1Char('\t') && text[i] <= QLatin1Char('\r'))))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    long long value = 0;
    constexpr long long limit = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        value = std::min(limit, value * 10 + (text[i].unicode() - '0'));
        ++i;
    }
    if (negative)
        value = -value;
    return static_cast<int>(std::max<long long>(std::numeric_limits<int>::min(),
                                                std::min<long long>(std::numeric_limits<int>::max(), value)));
}
